// Formatting of the log's file names and entry prefixes from a wall-clock reading.
//
// A reading is a count of 100-nanosecond units since 1970-01-01 00:00:00 UTC. Its whole
// seconds are turned into local calendar time; its milliseconds are the count divided by
// 10,000, modulo 1000. Pure functions of their arguments, safe on any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct LocalTime {
    int year;   // e.g. 2026
    int month;  // 1 to 12
    int day;    // 1 to 31
    int hour;   // 0 to 23
    int minute; // 0 to 59
    int second; // 0 to 60
};

// "zevlog-2026-12-08.03-22-05.txt": the first file of a start.
std::string logFileName(const LocalTime& time);

// The file of that start with number `sequence`: the first name for 1, then
// "zevlog-2026-12-08.03-22-05.2.txt", ".3.txt", ...
std::string logFileName(const LocalTime& time, int sequence);

// "2026-12-08 03:22:05.007 " for a reading 7 ms past that local second.
std::string logEntryPrefix(const LocalTime& time, int64_t units100ns);

// The length of every entry prefix.
constexpr std::size_t logEntryPrefixLength = 24;

// Milliseconds within the second of a reading: 0 to 999.
int logMilliseconds(int64_t units100ns);
