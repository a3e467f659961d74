// The process-wide log.
//
// Every entry goes twice, byte for byte the same: to standard error and to the log file,
// each flushed at once. A stamped entry opens a line with the local time
// ("2026-12-08 03:22:05.007 "); an unstamped one continues the line before it.
//
// On disk the log is bounded (log_bounds.h): a file that passes the per-file bound is
// continued in a new file at the next line start, and the oldest log files of the folder
// are removed when together they pass the folder bound. A file that cannot be written, or
// that is removed under the log, stops the file copy, noted once on standard error, and a
// new file is tried later (log_files.h); standard error keeps every entry.
//
// Threads: every function may be called from any thread at any time, also before
// logOpen and after logClose (then only standard error is written). One process-wide
// recursive lock makes each logPrint and each whole logHex dump atomic; it is a leaf
// lock: nothing else is taken while it is held.
#pragma once

#include "log/log_bounds.h"

#include <cstdint>
#include <string>

// Opens the log file in the platform's log folder (created with its parents). When the
// folder or the file cannot be opened, the log goes on writing to standard error alone.
void logOpen();

// Opens the log file in `folder` instead of the platform's folder.
void logOpenIn(const std::string& folder);

// Whether an entry begins with the local-time prefix.
enum class LogStamp { Without, With };

// Writes one entry, with or without the local-time prefix.
#if defined(__MINGW32__)
// The program formats with mingw's own standard printf, which knows %zu and the like.
__attribute__((format(gnu_printf, 2, 3)))
#elif defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
void logPrint(LogStamp stamp, const char* format, ...);

// Writes each byte as two lower-case hex digits and a blank, with no prefix or line end.
void logHex(const void* bytes, uint32_t length);

// Closes the log file; later entries go to standard error only.
void logClose();

// The path of the current log file, empty when there is none.
std::string logFilePath();

// Replaces the bounds (tests); they apply from the next entry on.
void logSetBounds(const LogBounds& bounds);
