// The text of one log entry, built in a buffer that the log owns and reuses, so that an
// entry costs one formatting pass and no heap allocation once the buffer has grown to the
// longest entry written.
//
// Threads: not thread-safe; the log uses its one LogEntry with the log lock held.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class LogEntry {
public:
    LogEntry();

    // Empties the entry for the next one; the buffer is kept.
    void clear() { used = 0; }
    // Appends the entry prefix of the clock reading. The local time is converted once per
    // second; within a second only the milliseconds change.
    void stamp(int64_t units100ns);
    // Appends the printf-style message.
    void format(const char* format, va_list args);
    // Appends each byte as two lower-case hex digits and a blank.
    void hex(const unsigned char* bytes, uint32_t length);

    const char* data() const { return text.data(); }
    std::size_t size() const { return used; }
    // True when the entry is empty or its last character ends a line.
    bool endsLine() const { return used == 0 || text[used - 1] == '\n'; }

private:
    // Makes room for `length` more characters and a terminating zero.
    void reserveMore(std::size_t length);

    std::vector<char> text; // the buffer; its first `used` characters are the entry
    std::size_t used = 0;
    int64_t stampSecond = -1; // the second whose prefix `stampText` holds
    std::string stampText;    // that prefix; its milliseconds are overwritten per entry
};
