// The folder bound of the log: when the folder's log files (zevlog-*.txt) together pass
// it, the oldest are removed until the rest fits. Oldest means the earliest start time in
// the name, and for files of one start the lowest sequence number. The current file and
// every file of another name stay.
//
// Threads: the log calls these with its lock held; the functions share no state.
#pragma once

#include "log/log_platform.h"

#include <cstdint>
#include <string>
#include <vector>

// True for the names of log files: "zevlog-" ... ".txt".
bool isLogFileName(const std::string& name);

// The names among `files` to remove, oldest first, so that the log files left fit in
// `bound` bytes; never `current`. Fewer when only `current` would be left to remove.
std::vector<std::string> logFilesToRemove(const std::vector<FolderFile>& files,
                                          const std::string& current, uint64_t bound);

// Removes from `folder` the files that logFilesToRemove picks. A file that cannot be
// removed is left; the others still go.
void enforceFolderBound(const std::string& folder, const std::string& current, uint64_t bound);
