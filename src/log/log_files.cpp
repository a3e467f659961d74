// The log's files: continuation, folder bound, failure and retry.
#include "log/log_files.h"

#include "log/log_platform.h"
#include "log/log_retention.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

constexpr int64_t unitsPerSecond = 10000000;

std::string stampedLine(const std::string& text) {
    const int64_t now = wallClock100ns();
    return logEntryPrefix(localTimeOf(now / unitsPerSecond), now) + text;
}

} // namespace

void LogFiles::open(const std::string& logFolder, int64_t now) {
    close();
    folder = logFolder;
    start = localTimeOf(now / unitsPerSecond);
    sequence = 1;
    failing = false;
    if (folder.empty()) {
        fail("find", "a log folder", ENOENT);
        return;
    }
    if (!begin()) {
        fail("open", joinPath(folder, logFileName(start, sequence)), errno);
    }
}

void LogFiles::close() {
    if (file != nullptr) {
        std::fclose(file);
    }
    file = nullptr;
    currentPath.clear();
    folder.clear();
    failing = false;
}

bool LogFiles::begin() {
    wroteToFile = false;
    makeFolder(folder);
    const std::string name = logFileName(start, sequence);
    const std::string path = joinPath(folder, name);
    errno = 0;
    file = std::fopen(path.c_str(), "a");
    if (file == nullptr) {
        return false;
    }
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    fileBytes = size > 0 ? static_cast<uint64_t>(size) : 0;
    currentPath = path;
    enforceFolderBound(folder, name, bounds.folderBytes);
    return true;
}

void LogFiles::checkRemoved(int64_t now) {
    const int64_t second = now / unitsPerSecond;
    if (second == checkedSecond) {
        return;
    }
    checkedSecond = second;
    if (file != nullptr && fileIsRemoved(file)) {
        fail("write", currentPath, ENOENT);
    }
}

void LogFiles::beforeEntry(bool atLineStart) {
    if (!atLineStart) {
        return;
    }
    if (file != nullptr && fileBytes > bounds.fileBytes) {
        rotate();
    } else if (failing && !folder.empty()) {
        retry();
    }
}

void LogFiles::rotate() {
    std::fclose(file);
    file = nullptr;
    currentPath.clear();
    ++sequence;
    if (!begin()) {
        fail("open", joinPath(folder, logFileName(start, sequence)), errno);
    }
}

void LogFiles::retry() {
    const int64_t now = wallClock100ns();
    // A clock set back must not put the next try off.
    if (now >= failedAt && now - failedAt < bounds.retrySeconds * unitsPerSecond) {
        return;
    }
    if (wroteToFile) {
        ++sequence;
    }
    if (!begin()) {
        failedAt = now;
        return;
    }
    // The file copy is back once the file has taken a line: this one, to both outputs.
    const std::string line = stampedLine("log: writing the log file again: " + currentPath +
                                         "; the lines since the failure are in standard "
                                         "error only\n");
    if (write(line.data(), line.size())) {
        failing = false;
        std::fwrite(line.data(), 1, line.size(), stderr);
        std::fflush(stderr);
    }
}

bool LogFiles::write(const char* text, std::size_t length) {
    if (file == nullptr) {
        return false;
    }
    errno = 0;
    if (std::fwrite(text, 1, length, file) != length || std::fflush(file) != 0) {
        fail("write", currentPath, errno);
        return false;
    }
    wroteToFile = true;
    fileBytes += length;
    if (lineEndBytesOnDisk() > 1) {
        const auto lineEnds = static_cast<uint64_t>(std::count(text, text + length, '\n'));
        fileBytes += lineEnds * static_cast<uint64_t>(lineEndBytesOnDisk() - 1);
    }
    return true;
}

void LogFiles::fail(const char* action, const std::string& path, int error) {
    // The note is made before currentPath is cleared: `path` may be currentPath itself.
    std::string note;
    if (!failing) {
        const std::string retry = folder.empty() ? std::string("")
                                                 : "; a new file is tried " +
                                                       std::to_string(bounds.retrySeconds) +
                                                       " s after the failure";
        note = stampedLine("log: cannot " + std::string(action) + " " + path + ": " +
                           std::strerror(error) + "; the log goes on in standard error only" +
                           retry + "\n");
    }
    if (file != nullptr) {
        std::fclose(file);
    }
    file = nullptr;
    currentPath.clear();
    failedAt = wallClock100ns();
    if (failing) {
        return;
    }
    failing = true;
    std::fwrite(note.data(), 1, note.size(), stderr);
    std::fflush(stderr);
}
