// The operating-system seam of the log: the wall clock, local time, the log folder and its files.
// One implementation per platform (log_platform_linux.cpp, log_platform_win32.cpp).
#pragma once

#include "log/log_format.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// The wall clock: 100-nanosecond units since 1970-01-01 00:00:00 UTC.
int64_t wallClock100ns();

// Local calendar time of a count of seconds since 1970-01-01 00:00:00 UTC.
LocalTime localTimeOf(int64_t seconds);

// The folder the log files go into; empty when it cannot be resolved.
std::string logFolder();

// Creates `path` and its missing parents; true when the folder exists afterwards.
bool makeFolder(const std::string& path);

// `folder` joined with `name` by the platform's path separator.
std::string joinPath(const std::string& folder, const std::string& name);

// A regular file of a folder and its size in bytes.
struct FolderFile {
    std::string name;
    uint64_t bytes;
};

// The regular files of `folder` (not its sub-folders); empty when it cannot be read.
std::vector<FolderFile> filesOf(const std::string& folder);

// True when the open `file` has lost its last name (it or its folder was removed while
// open): writes to it still succeed, but nothing can read them back. One system call.
bool fileIsRemoved(FILE* file);

// Bytes that one "\n" written to the log file in text mode takes on disk.
int lineEndBytesOnDisk();
