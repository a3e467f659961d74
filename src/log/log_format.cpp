// Log file names and entry prefixes.
#include "log/log_format.h"

#include <cstdio>

std::string logFileName(const LocalTime& time) {
    return logFileName(time, 1);
}

std::string logFileName(const LocalTime& time, int sequence) {
    char name[64];
    std::snprintf(name, sizeof name, "zevlog-%.4d-%.2d-%.2d.%.2d-%.2d-%.2d", time.year, time.month,
                  time.day, time.hour, time.minute, time.second);
    name[sizeof name - 1] = '\0';
    std::string text = name;
    if (sequence > 1) {
        text += "." + std::to_string(sequence);
    }
    return text + ".txt";
}

int logMilliseconds(int64_t units100ns) {
    return static_cast<int>((units100ns / 10000) % 1000);
}

std::string logEntryPrefix(const LocalTime& time, int64_t units100ns) {
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "%.4d-%.2d-%.2d %.2d:%.2d:%.2d.%3.3d ", time.year,
                  time.month, time.day, time.hour, time.minute, time.second,
                  logMilliseconds(units100ns));
    return prefix;
}
