// Helpers shared by the Mux's tests.
#include "mux_test_support.h"

#include "log/log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

void openTestLog() {
    std::random_device random;
    const auto folder =
        std::filesystem::temp_directory_path() / ("linkrelay-mux-test-" + std::to_string(random()));
    std::filesystem::create_directories(folder);
    logOpenIn(folder.string());
}

namespace {

class TestLogEnvironment : public ::testing::Environment {
public:
    void SetUp() override { openTestLog(); }
    void TearDown() override { logClose(); }
};

// Every test program of the Mux logs into its own file.
[[maybe_unused]] ::testing::Environment* const logEnvironment =
    ::testing::AddGlobalTestEnvironment(new TestLogEnvironment);

// Read in text mode, as the log writes, so that line ends come back as "\n" everywhere.
std::string wholeLog() {
    std::ifstream file(logFilePath());
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

} // namespace

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

BleAddress testAddress(uint8_t first, uint8_t last) {
    return BleAddress{{first, 2, 3, 4, 5, last}};
}

Gob received(const Gob& gob) {
    return Gob::forReading(gob.storage(), gob.size(), false);
}

Gob cutShort(const Gob& gob, uint32_t count) {
    return Gob::forReading(gob.storage(), gob.size() - count, false);
}

Gob gobOf(const std::vector<uint8_t>& bytes) {
    return Gob::forReading(bytes.data(), static_cast<uint32_t>(bytes.size()), false);
}

std::vector<uint8_t> bytesOf(const Gob& gob) {
    return {gob.storage(), gob.storage() + gob.size()};
}
