// The loop's bounded wait and the layer's fatal-error path.
#include "stream_fixture.h"

#include <cstdio>

namespace {

TEST(UpdateTimeout, SplitsIntoSecondsAndMicroseconds) {
    const WaitTimeout millisecond = splitTimeout(0.001);
    EXPECT_EQ(millisecond.seconds, 0);
    EXPECT_EQ(millisecond.microseconds, 1000);

    const WaitTimeout second = splitTimeout(1.0);
    EXPECT_EQ(second.seconds, 1);
    EXPECT_EQ(second.microseconds, 0);

    const WaitTimeout mixed = splitTimeout(2.25);
    EXPECT_EQ(mixed.seconds, 2);
    EXPECT_EQ(mixed.microseconds, 250000);
}

TEST(UpdateTimeout, NonPositiveTimeoutDoesNotWait) {
    for (const double seconds : {0.0, -1.5}) {
        const WaitTimeout none = splitTimeout(seconds);
        EXPECT_EQ(none.seconds, 0);
        EXPECT_EQ(none.microseconds, 0);
    }
}

TEST(StreamPanicDeathTest, HandlerGetsTheTextAndTheProcessExitsWithOne) {
    EXPECT_EXIT(
        {
            setPanicHandler([](const char* text) { std::fprintf(stderr, "handler: %s\n", text); });
            streamPanic("WSAStartup failed (%d)", 10091);
        },
        ::testing::ExitedWithCode(1), "handler: WSAStartup failed \\(10091\\)");
}

TEST(StreamPanicDeathTest, TextIsCutTo127Characters) {
    EXPECT_EXIT(
        {
            setPanicHandler([](const char* text) {
                std::fprintf(stderr, "length %zu\n", std::char_traits<char>::length(text));
            });
            streamPanic("%s", std::string(300, 'p').c_str());
        },
        ::testing::ExitedWithCode(1), "length 127");
}

} // namespace
