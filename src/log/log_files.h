// The file copy of the log: the current file in the log folder, the continuation files at
// the per-file bound, the folder bound, and what happens when the file cannot be written.
//
// Files: the first file of a start is named by the start time (zevlog-<start>.txt) and is
// appended to when it exists. When it has passed the per-file bound, the next line goes to
// zevlog-<start>.2.txt, then .3.txt, ...; a new file begins only at a line start, so no
// line is split between files. The folder bound is applied at start and whenever a new
// file is begun (log_retention.h).
//
// Failure: when the file cannot be opened or written, the file copy stops; standard error
// goes on with every entry. The failure is noted once on standard error. At the first line
// begun `retrySeconds` after the failure (or after the last failed try) a new file is
// tried: the next number of the start, or the same name again when this process wrote
// nothing into the failed file (so a full disk does not gather empty files). The try
// succeeds when the file takes a line saying so, which then goes to standard error too;
// a failed try is not noted again.
//
// A file removed while open (by itself or with its folder) still takes writes on Linux,
// but they never reach a name on disk. The first stamped entry of each second looks at the
// file's link count, and a removed file fails like a write that fails; the next file is
// begun in the folder, made again when it is gone. Lines of the second of the removal can
// go to the removed file. A Windows log file cannot be removed while open.
//
// Threads: not thread-safe; the log calls it with its lock held.
#pragma once

#include "log/log_bounds.h"
#include "log/log_format.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

class LogFiles {
public:
    LogFiles() = default;
    ~LogFiles() { close(); }
    LogFiles(const LogFiles&) = delete;
    LogFiles& operator=(const LogFiles&) = delete;

    // Begins the first file of a start in `folder` (created with its parents), named by the
    // clock reading `now`. An empty `folder` means no file copy, noted as a failure.
    void open(const std::string& folder, int64_t now);
    // Closes the current file; later entries have no file copy.
    void close();
    void setBounds(const LogBounds& newBounds) { bounds = newBounds; }

    // Called with the clock reading of each stamped entry, before the entry: in the first
    // one of each second (one system call a second), a current file that has been removed
    // stops the file copy like a failed write.
    void checkRemoved(int64_t now);
    // Called before each entry: at a line start, begins a new file when the current one
    // has passed the per-file bound, or tries again after a failure when it is time.
    void beforeEntry(bool atLineStart);
    // Writes the entry to the current file and flushes it; false when there is no file or
    // the write failed, which stops the file copy.
    bool write(const char* text, std::size_t length);

    // The path of the current file; empty when there is none.
    const std::string& path() const { return currentPath; }

private:
    // Opens the file numbered `sequence`; false (with errno set) when it cannot be opened.
    bool begin();
    void rotate();
    void retry();
    // Stops the file copy after a failure to `action` the file at `path` with `error`.
    void fail(const char* action, const std::string& path, int error);

    LogBounds bounds = logDefaultBounds;
    std::string folder;         // the log folder; empty when there is none
    LocalTime start{};          // the start time in every file name of this start
    int sequence = 1;           // number of the current file, or of the next to try
    FILE* file = nullptr;       // the current file; null while failing or closed
    std::string currentPath;    // its path
    uint64_t fileBytes = 0;     // its size on disk, as far as this process knows
    bool wroteToFile = false;   // this process has written into the current (or failed) file
    bool failing = false;       // the file copy stopped after a failure
    int64_t failedAt = 0;       // clock reading of the failure or of the last failed try
    int64_t checkedSecond = -1; // the second of the last look for a removed file
};
