// One log entry in the log's reusable buffer.
#include "log/log_entry.h"

#include "log/log_format.h"
#include "log/log_platform.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr std::size_t initialCapacity = 4096;
constexpr int64_t unitsPerSecond = 10000000;
// Where the three digits of the milliseconds stand in a prefix.
constexpr std::size_t millisecondsAt = 20;

} // namespace

LogEntry::LogEntry() : text(initialCapacity) {}

void LogEntry::reserveMore(std::size_t length) {
    if (used + length + 1 > text.size()) {
        text.resize(used + length + 1);
    }
}

void LogEntry::stamp(int64_t units100ns) {
    const int64_t second = units100ns / unitsPerSecond;
    if (second != stampSecond) {
        stampText = logEntryPrefix(localTimeOf(second), units100ns);
        stampSecond = second;
    }
    if (stampText.size() == logEntryPrefixLength) {
        const int milliseconds = logMilliseconds(units100ns);
        stampText[millisecondsAt] = static_cast<char>('0' + milliseconds / 100);
        stampText[millisecondsAt + 1] = static_cast<char>('0' + milliseconds / 10 % 10);
        stampText[millisecondsAt + 2] = static_cast<char>('0' + milliseconds % 10);
    } else {
        // A year beyond four digits: no fixed place for the milliseconds.
        stampText = logEntryPrefix(localTimeOf(second), units100ns);
    }
    reserveMore(stampText.size());
    std::memcpy(text.data() + used, stampText.data(), stampText.size());
    used += stampText.size();
}

void LogEntry::format(const char* format, va_list args) {
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(text.data() + used, text.size() - used, format, args);
    if (length > 0 && used + static_cast<std::size_t>(length) >= text.size()) {
        reserveMore(static_cast<std::size_t>(length));
        std::vsnprintf(text.data() + used, text.size() - used, format, again);
    }
    va_end(again);
    if (length > 0) {
        used += static_cast<std::size_t>(length);
    }
}

void LogEntry::hex(const unsigned char* bytes, uint32_t length) {
    static constexpr char digits[] = "0123456789abcdef";
    reserveMore(std::size_t{3} * length);
    for (uint32_t i = 0; i < length; ++i) {
        text[used++] = digits[bytes[i] >> 4];
        text[used++] = digits[bytes[i] & 0x0F];
        text[used++] = ' ';
    }
}
