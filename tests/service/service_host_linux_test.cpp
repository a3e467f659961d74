// The service steps on Linux, run in this process: the notifications to systemd, the
// "service: ..." lines in order, and stop controls that come too early or too late.
#include "log/log.h"
#include "process_harness.h"
#include "service/service_main.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

namespace {

using namespace std::chrono_literals;
using harness::linesFrom;
using harness::NotifySocket;
using harness::readFile;
using harness::TempDir;
using harness::waitUntil;

class ServiceHostTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(notify.bound());
        setenv("NOTIFY_SOCKET", notify.name().c_str(), 1);
        // No system bus: the power listener idles.
        setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + folder.file("no-bus")).c_str(), 1);
        logOpenIn(folder.file("logs"));
    }
    void TearDown() override {
        logClose();
        unsetenv("NOTIFY_SOCKET");
    }

    std::vector<std::string> serviceLines() const {
        return linesFrom(readFile(logFilePath()), "service: ");
    }
    bool logged(const std::string& line) const {
        const std::vector<std::string> lines = serviceLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    TempDir folder;
    NotifySocket notify{folder.file("notify")};
};

TEST_F(ServiceHostTest, StopControlEndsTheServiceWithTheReportsAndLinesInOrder) {
    std::thread service(serviceMainSteps);
    EXPECT_EQ(notify.receive(10s), "READY=1");
    ASSERT_TRUE(waitUntil([this] { return logged("service: waiting for stop"); }, 10s));
    EXPECT_TRUE(serviceControl(controlStop));
    service.join();

    EXPECT_EQ(notify.receive(1s), "STOPPING=1"); // from the control handler
    EXPECT_EQ(notify.receive(1s), "STOPPING=1"); // after the workers are joined
    EXPECT_EQ(notify.receive(100ms), std::nullopt);
    const std::vector<std::string> expected{
        "service: registering",
        "service: starting",
        "service: running",
        "service: starting linkrelay",
        "service: waiting for stop",
        "service: serviceCtrlHandler handling shutdown or stop",
        "service: stopping linkrelay",
        "service: stop pending",
        "service: stopping",
    };
    EXPECT_EQ(serviceLines(), expected);
}

TEST_F(ServiceHostTest, StopBeforeTheServiceRunsIsRefusedUntilItCanBeDelivered) {
    EXPECT_FALSE(serviceControl(controlShutdown));
    std::thread service(serviceMainSteps);
    // The way the Linux entry delivers a signal that came early: again until it lands.
    EXPECT_TRUE(waitUntil([] { return serviceControl(controlShutdown); }, 10s));
    service.join();
    EXPECT_TRUE(logged("service: stopping"));

    // After the service has stopped, a late stop finds nothing and changes nothing.
    const std::vector<std::string> before = serviceLines();
    EXPECT_FALSE(serviceControl(controlStop));
    EXPECT_EQ(serviceLines(), before);
    EXPECT_EQ(before.back(), "service: stopping");
}

TEST_F(ServiceHostTest, OtherControlsAreLoggedAndIgnored) {
    EXPECT_TRUE(serviceControl(controlInterrogate));
    EXPECT_EQ(serviceLines(),
              std::vector<std::string>{"service: serviceCtrlHandler ignoring ctrl 4"});
    EXPECT_EQ(notify.receive(100ms), std::nullopt);
}

} // namespace
