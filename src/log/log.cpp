// The process-wide log: one entry buffer, the file side and one recursive lock, all
// process-wide.
//
// An entry is formatted once into the buffer, stamp included, then written with one write
// to standard error and one to the log file, each flushed. The lock is recursive so that
// a log call made while it is held (there is none today) would not deadlock the process.
#include "log/log.h"

#include "log/log_entry.h"
#include "log/log_files.h"
#include "log/log_platform.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace {

std::recursive_mutex logLock; // guards everything below, and orders all output
LogEntry entry;               // the entry being written
LogFiles files;               // the file copy
bool atLineStart = true;      // the last entry ended a line (or there was none)

// Writes the entry to standard error, then to the log file. Caller holds logLock.
void writeEntry() {
    files.beforeEntry(atLineStart);
    std::fwrite(entry.data(), 1, entry.size(), stderr);
    std::fflush(stderr);
    files.write(entry.data(), entry.size());
    atLineStart = entry.endsLine();
}

} // namespace

void logOpen() {
    logOpenIn(logFolder());
}

void logOpenIn(const std::string& folder) {
    const int64_t now = wallClock100ns();
    const std::lock_guard<std::recursive_mutex> guard(logLock);
    files.open(folder, now);
}

void logPrint(LogStamp stamp, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const std::lock_guard<std::recursive_mutex> guard(logLock);
    entry.clear();
    if (stamp == LogStamp::With) {
        const int64_t now = wallClock100ns();
        entry.stamp(now);
        files.checkRemoved(now);
    }
    entry.format(format, args);
    va_end(args);
    writeEntry();
}

void logHex(const void* bytes, uint32_t length) {
    if (length == 0) {
        return;
    }
    const std::lock_guard<std::recursive_mutex> guard(logLock);
    entry.clear();
    entry.hex(static_cast<const unsigned char*>(bytes), length);
    writeEntry();
}

void logClose() {
    const std::lock_guard<std::recursive_mutex> guard(logLock);
    files.close();
}

std::string logFilePath() {
    const std::lock_guard<std::recursive_mutex> guard(logLock);
    return files.path();
}

void logSetBounds(const LogBounds& bounds) {
    const std::lock_guard<std::recursive_mutex> guard(logLock);
    files.setBounds(bounds);
}
