// How much of the log stays on disk, and how soon a failed log file is tried again: the
// one place to change these limits.
#pragma once

#include <cstdint>

struct LogBounds {
    // A file that has passed this many bytes ends at its next line end; the log goes on
    // in a continuation file (zevlog-<start>.2.txt, .3.txt, ...).
    uint64_t fileBytes = uint64_t{64} * 1024 * 1024;
    // The folder's zevlog-*.txt files together: above this, the oldest are removed at
    // start and whenever a new file is begun. The current file is never removed.
    uint64_t folderBytes = uint64_t{512} * 1024 * 1024;
    // After a failed write the file copy stops; a new file is tried at the first line
    // begun this many seconds after the failure (or after the last failed try).
    int64_t retrySeconds = 60;
};

// The bounds the service runs with.
constexpr LogBounds logDefaultBounds{};
