// The systemd notification datagram, to path and abstract sockets.
#include "service/sd_notify.h"

#include "process_harness.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>

namespace {

using harness::NotifySocket;
using harness::TempDir;
using namespace std::chrono_literals;

TEST(SdNotify, NothingIsSentWithoutTheVariable) {
    unsetenv("NOTIFY_SOCKET");
    EXPECT_FALSE(sdNotify("READY=1"));
    setenv("NOTIFY_SOCKET", "", 1);
    EXPECT_FALSE(sdNotify("READY=1"));
}

TEST(SdNotify, MessageReachesAPathSocket) {
    TempDir folder;
    NotifySocket socket(folder.file("notify"));
    ASSERT_TRUE(socket.bound());
    setenv("NOTIFY_SOCKET", socket.name().c_str(), 1);
    EXPECT_TRUE(sdNotify("READY=1"));
    EXPECT_EQ(socket.receive(5s), "READY=1");
}

TEST(SdNotify, MessageReachesAnAbstractSocket) {
    NotifySocket socket("@linkrelay-notify-test-" + std::to_string(getpid()));
    ASSERT_TRUE(socket.bound());
    setenv("NOTIFY_SOCKET", socket.name().c_str(), 1);
    EXPECT_TRUE(sdNotify("STOPPING=1"));
    EXPECT_EQ(socket.receive(5s), "STOPPING=1");
}

TEST(SdNotify, UnreachableOrOverlongSocketIsReportedUnsent) {
    TempDir folder;
    setenv("NOTIFY_SOCKET", folder.file("nobody-listens").c_str(), 1);
    EXPECT_FALSE(sdNotify("READY=1"));
    setenv("NOTIFY_SOCKET", ("/" + std::string(200, 'n')).c_str(), 1);
    EXPECT_FALSE(sdNotify("READY=1"));
}

} // namespace
