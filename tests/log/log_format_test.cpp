// File names and entry prefixes of the log, from fixed clock readings.
#include "log/log_format.h"

#include <gtest/gtest.h>

namespace {

constexpr int64_t unitsPerSecond = 10000000;
constexpr int64_t unitsPerMillisecond = 10000;

// 2026-12-08 03:22:05 as a local calendar time, and a clock reading in that second.
const LocalTime sample{2026, 12, 8, 3, 22, 5};
constexpr int64_t sampleSecond = int64_t{1796700125} * unitsPerSecond;

TEST(LogFormat, FileNameIsZeroPaddedAndThirtyCharactersLong) {
    EXPECT_EQ(logFileName(sample), "zevlog-2026-12-08.03-22-05.txt");
    EXPECT_EQ(logFileName({987, 1, 2, 0, 0, 9}), "zevlog-0987-01-02.00-00-09.txt");
    EXPECT_EQ(logFileName({2031, 10, 31, 23, 59, 59}).size(), 30U);
}

TEST(LogFormat, ContinuationFilesCarryTheStartAndTheirNumber) {
    EXPECT_EQ(logFileName(sample, 1), "zevlog-2026-12-08.03-22-05.txt");
    EXPECT_EQ(logFileName(sample, 2), "zevlog-2026-12-08.03-22-05.2.txt");
    EXPECT_EQ(logFileName(sample, 17), "zevlog-2026-12-08.03-22-05.17.txt");
}

TEST(LogFormat, PrefixShowsMillisecondsAsThreeDigits) {
    EXPECT_EQ(logEntryPrefix(sample, sampleSecond + 7 * unitsPerMillisecond),
              "2026-12-08 03:22:05.007 ");
    EXPECT_EQ(logEntryPrefix(sample, sampleSecond), "2026-12-08 03:22:05.000 ");
    EXPECT_EQ(logEntryPrefix(sample, sampleSecond + 42 * unitsPerMillisecond),
              "2026-12-08 03:22:05.042 ");
}

TEST(LogFormat, LastMillisecondOfASecondStaysInThatSecond) {
    // 999.9999 ms past the second: still .999, never rounded up into the next second.
    const int64_t lastUnit = sampleSecond + unitsPerSecond - 1;
    EXPECT_EQ(logMilliseconds(lastUnit), 999);
    EXPECT_EQ(logEntryPrefix(sample, lastUnit), "2026-12-08 03:22:05.999 ");
}

TEST(LogFormat, MillisecondsTruncateSubMillisecondUnits) {
    EXPECT_EQ(logMilliseconds(sampleSecond + 7 * unitsPerMillisecond + 9999), 7);
    EXPECT_EQ(logMilliseconds(sampleSecond + unitsPerSecond), 0);
    EXPECT_EQ(logMilliseconds(0), 0);
}

} // namespace
