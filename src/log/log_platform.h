// The operating-system seam of the log: the wall clock, local time, and the log folder.
// One implementation per platform (log_platform_linux.cpp, log_platform_win32.cpp).
#pragma once

#include "log/log_format.h"

#include <cstdint>
#include <string>

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
