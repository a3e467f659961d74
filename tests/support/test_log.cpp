// The test log: see test_log.h.
#include "test_log.h"

#include "log/log.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

namespace {

// Read in text mode, as the log writes, so that line ends come back as "\n" everywhere.
std::string wholeLog() {
    std::ifstream file(logFilePath());
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

} // namespace

void TestLogEnvironment::SetUp() {
    std::random_device random;
    const auto folder = std::filesystem::temp_directory_path() /
                        ("linkrelay-" + name + "-test-" + std::to_string(random()));
    std::filesystem::create_directories(folder);
    logOpenIn(folder.string());
}

void TestLogEnvironment::TearDown() {
    const std::filesystem::path file = logFilePath();
    logClose();
    std::error_code ignored;
    std::filesystem::remove_all(file.parent_path(), ignored);
}

std::size_t logMark() {
    return wholeLog().size();
}

std::string logSince(std::size_t mark) {
    const std::string log = wholeLog();
    return mark < log.size() ? log.substr(mark) : std::string();
}

bool logHasInOrder(std::size_t mark, const std::vector<std::string>& texts) {
    const std::string log = logSince(mark);
    std::size_t at = 0;
    for (const std::string& text : texts) {
        at = log.find(text, at);
        if (at == std::string::npos) {
            return false;
        }
        at += text.size();
    }
    return true;
}

int logCount(std::size_t mark, const std::string& text) {
    const std::string log = logSince(mark);
    int count = 0;
    for (std::size_t at = log.find(text); at != std::string::npos;
         at = log.find(text, at + text.size())) {
        ++count;
    }
    return count;
}
