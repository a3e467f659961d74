// Temporary folder and standard-error capture for the log tests.
#include "log_test_support.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

std::atomic<int> folderCount{0};

} // namespace

TempFolder::TempFolder() {
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("linkrelay-log-test-" + std::to_string(stamp) + "-" + std::to_string(++folderCount));
    std::filesystem::create_directories(path);
    folder = path.generic_string();
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

StderrCapture::StderrCapture(const std::string& path) : capturePath(path) {
    std::fflush(stderr);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        return;
    }
    savedFd = dup(2);
    dup2(fd, 2);
    close(fd);
}

StderrCapture::~StderrCapture() {
    finish();
}

std::string StderrCapture::finish() {
    if (savedFd >= 0) {
        std::fflush(stderr);
        dup2(savedFd, 2);
        close(savedFd);
        savedFd = -1;
    }
    return readWholeFile(capturePath);
}

// Read in text mode, so that line ends come back as "\n" on every platform.
std::string readWholeFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string readRawFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::string onlyFileIn(const std::string& folder) {
    std::string found;
    int count = 0;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        found = entry.path().generic_string();
        ++count;
    }
    return count == 1 ? found : std::string();
}
