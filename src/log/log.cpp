// The process-wide log: one file stream and one recursive lock, both process-wide.
//
// The lock is recursive because logHex holds it across its bytes while logPrint takes
// it again for each. The file is opened for appending: two starts within one second
// share a file name, and the second must not destroy the record of the first.
#include "log/log.h"

#include "log/log_platform.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <vector>

namespace {

std::recursive_mutex logLock; // guards logFile and logPath, and orders all output
FILE* logFile = nullptr;      // the open log file; null before logOpen and after logClose
std::string logPath;          // path of logFile

// Writes `length` bytes to standard error, then to the log file. Caller holds logLock.
void writeBoth(const char* text, size_t length) {
    std::fwrite(text, 1, length, stderr);
    if (logFile != nullptr) {
        std::fwrite(text, 1, length, logFile);
    }
}

void flushBoth() {
    std::fflush(stderr);
    if (logFile != nullptr) {
        std::fflush(logFile);
    }
}

std::string formatMessage(const char* format, va_list args) {
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0) {
        return {};
    }
    std::vector<char> text(static_cast<size_t>(length) + 1);
    std::vsnprintf(text.data(), text.size(), format, args);
    return {text.data(), static_cast<size_t>(length)};
}

std::string stampNow() {
    const int64_t now = wallClock100ns();
    return logEntryPrefix(localTimeOf(now / 10000000), now);
}

} // namespace

void logOpen() {
    const std::string folder = logFolder();
    if (folder.empty()) {
        return;
    }
    logOpenIn(folder);
}

void logOpenIn(const std::string& folder) {
    const int64_t now = wallClock100ns();
    const std::string name = logFileName(localTimeOf(now / 10000000));
    makeFolder(folder);
    const std::string path = joinPath(folder, name);
    FILE* file = std::fopen(path.c_str(), "a");
    const std::lock_guard<std::recursive_mutex> guard(logLock);
    if (logFile != nullptr) {
        std::fclose(logFile);
    }
    logFile = file;
    logPath = file != nullptr ? path : std::string();
}

void logPrint(int stamp, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::string message = formatMessage(format, args);
    va_end(args);

    const std::lock_guard<std::recursive_mutex> guard(logLock);
    if (stamp != 0) {
        const std::string prefix = stampNow();
        writeBoth(prefix.data(), prefix.size());
    }
    writeBoth(message.data(), message.size());
    flushBoth();
}

void logHex(const void* bytes, uint32_t length) {
    const auto* byte = static_cast<const unsigned char*>(bytes);
    const std::lock_guard<std::recursive_mutex> guard(logLock);
    for (uint32_t i = 0; i < length; ++i) {
        logPrint(0, "%.2x ", static_cast<unsigned>(byte[i]));
    }
}

void logClose() {
    const std::lock_guard<std::recursive_mutex> guard(logLock);
    if (logFile != nullptr) {
        std::fclose(logFile);
    }
    logFile = nullptr;
    logPath.clear();
}

std::string logFilePath() {
    const std::lock_guard<std::recursive_mutex> guard(logLock);
    return logPath;
}
