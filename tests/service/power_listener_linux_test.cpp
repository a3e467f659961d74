// The Linux power listener against a real D-Bus daemon with a stand-in for logind:
// the delay inhibitor is taken, released after the suspend steps and taken again on
// resume; the callbacks run in order; the listener ends promptly, with or without a bus.
#include "fake_login1.h"
#include "log/log.h"
#include "private_bus.h"
#include "process_harness.h"
#include "service/power_listener.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using harness::FakeLogin1;
using harness::PrivateBus;

// What happened, in order, from the listener thread and from the fake's side.
class Journal {
public:
    void note(const std::string& event) {
        const std::lock_guard<std::mutex> guard(lock);
        events.push_back(event);
    }
    std::vector<std::string> all() const {
        const std::lock_guard<std::mutex> guard(lock);
        return events;
    }
    int count(const std::string& event) const {
        const std::vector<std::string> seen = all();
        return static_cast<int>(std::count(seen.begin(), seen.end(), event));
    }

private:
    mutable std::mutex lock; // guards events
    std::vector<std::string> events;
};

class PowerListenerTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(bus.address().empty()) << "dbus-daemon did not start";
        setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().c_str(), 1);
        setSuspendHandler([this] { journal.note("suspend"); });
        setResumeHandler([this] { journal.note("resume"); });
    }
    void TearDown() override {
        setSuspendHandler({});
        setResumeHandler({});
    }

    PrivateBus bus;
    Journal journal;
};

TEST_F(PowerListenerTest, SuspendAndResumeRunInOrderAroundTheInhibitor) {
    FakeLogin1 login1(bus.address(), [this](const std::string& event) { journal.note(event); });
    ASSERT_TRUE(login1.ready());
    PowerListener listener;
    listener.start();

    ASSERT_TRUE(login1.pumpUntil([&] { return login1.inhibitorsHeld() == 1; }, 10s));
    ASSERT_EQ(login1.inhibitCalls().size(), 1U);
    const FakeLogin1::InhibitCall& call = login1.inhibitCalls()[0];
    EXPECT_EQ(call.what, "sleep");
    EXPECT_EQ(call.who, "linkrelay");
    EXPECT_EQ(call.why, "stop BLE work before sleep");
    EXPECT_EQ(call.mode, "delay");

    ASSERT_TRUE(login1.emitPrepareForSleep(true));
    ASSERT_TRUE(login1.pumpUntil([&] { return login1.inhibitorsReleased() == 1; }, 10s));
    EXPECT_EQ(journal.all(), (std::vector<std::string>{"inhibit", "suspend", "released"}));
    EXPECT_EQ(login1.inhibitorsHeld(), 0);

    ASSERT_TRUE(login1.emitPrepareForSleep(false));
    ASSERT_TRUE(login1.pumpUntil(
        [&] { return login1.inhibitorsHeld() == 1 && journal.count("resume") == 1; }, 10s));
    EXPECT_EQ(login1.inhibitorsHandedOut(), 2);

    // A second round works the same way.
    ASSERT_TRUE(login1.emitPrepareForSleep(true));
    ASSERT_TRUE(login1.pumpUntil([&] { return login1.inhibitorsReleased() == 2; }, 10s));
    EXPECT_EQ(journal.count("suspend"), 2);

    listener.end();
    EXPECT_EQ(journal.count("resume"), 1);
}

TEST_F(PowerListenerTest, EndingReleasesTheInhibitor) {
    FakeLogin1 login1(bus.address(), [this](const std::string& event) { journal.note(event); });
    ASSERT_TRUE(login1.ready());
    PowerListener listener;
    listener.start();
    ASSERT_TRUE(login1.pumpUntil([&] { return login1.inhibitorsHeld() == 1; }, 10s));
    listener.end();
    EXPECT_TRUE(login1.pumpUntil([&] { return login1.inhibitorsReleased() == 1; }, 10s));
    EXPECT_EQ(journal.count("suspend"), 0);
}

TEST_F(PowerListenerTest, RefusedInhibitorStillLeavesSuspendAndResumeWatched) {
    FakeLogin1 login1(bus.address(), [this](const std::string& event) { journal.note(event); });
    ASSERT_TRUE(login1.ready());
    login1.refuseInhibit();
    PowerListener listener;
    listener.start();
    ASSERT_TRUE(login1.pumpUntil([&] { return login1.inhibitCalls().size() == 1; }, 10s));

    ASSERT_TRUE(login1.emitPrepareForSleep(true));
    ASSERT_TRUE(login1.pumpUntil([&] { return journal.count("suspend") == 1; }, 10s));
    ASSERT_TRUE(login1.emitPrepareForSleep(false));
    ASSERT_TRUE(login1.pumpUntil([&] { return journal.count("resume") == 1; }, 10s));
    // Asked again on resume. The request is sent before the resume callback runs, but the
    // fake logind reads it only as it pumps, so the call may arrive after the callback.
    EXPECT_TRUE(login1.pumpUntil([&] { return login1.inhibitCalls().size() == 2; }, 10s));
    EXPECT_EQ(login1.inhibitorsHandedOut(), 0);
    listener.end();
}

// Signals from anyone but logind's name are not power events.
TEST_F(PowerListenerTest, PrepareForSleepFromAnotherSenderIsIgnored) {
    FakeLogin1 login1(bus.address(), [this](const std::string& event) { journal.note(event); });
    ASSERT_TRUE(login1.ready());
    PowerListener listener;
    listener.start();
    ASSERT_TRUE(login1.pumpUntil([&] { return login1.inhibitorsHeld() == 1; }, 10s));

    // An impostor on a connection of its own, without logind's name; then logind.
    ASSERT_TRUE(harness::emitPrepareForSleepFrom(bus.address(), true));
    EXPECT_FALSE(login1.pumpUntil([&] { return journal.count("suspend") > 0; }, 300ms));
    ASSERT_TRUE(login1.emitPrepareForSleep(true));
    ASSERT_TRUE(login1.pumpUntil([&] { return login1.inhibitorsReleased() == 1; }, 10s));
    listener.end();
    EXPECT_EQ(journal.all(), (std::vector<std::string>{"inhibit", "suspend", "released"}));
}

TEST_F(PowerListenerTest, BusThatGoesAwayLeavesTheListenerIdleUntilEnded) {
    harness::TempDir folder;
    logOpenIn(folder.path());
    FakeLogin1 login1(bus.address(), [this](const std::string& event) { journal.note(event); });
    ASSERT_TRUE(login1.ready());
    PowerListener listener;
    listener.start();
    ASSERT_TRUE(login1.pumpUntil([&] { return login1.inhibitorsHeld() == 1; }, 10s));
    bus.stop();
    EXPECT_TRUE(harness::waitUntil(
        [] {
            const std::string text = harness::readFile(logFilePath());
            return !harness::linesFrom(text, "power: system bus lost").empty();
        },
        10s));
    // The inhibitor is not leaked with the connection.
    EXPECT_TRUE(login1.pumpUntil([&] { return login1.inhibitorsReleased() == 1; }, 10s));
    listener.end();
    logClose();
}

TEST(PowerListenerWithoutBus, LogsOneLineAndIdlesUntilEnded) {
    harness::TempDir folder;
    setenv("DBUS_SYSTEM_BUS_ADDRESS", ("unix:path=" + folder.file("no-bus")).c_str(), 1);
    logOpenIn(folder.file("logs"));
    PowerListener listener;
    listener.start();
    EXPECT_TRUE(harness::waitUntil(
        [] { return !harness::linesFrom(harness::readFile(logFilePath()), "power: ").empty(); },
        10s));
    listener.end();
    listener.end(); // a second end finds nothing to do
    const std::vector<std::string> lines =
        harness::linesFrom(harness::readFile(logFilePath()), "power: ");
    logClose();
    ASSERT_EQ(lines.size(), 1U);
    EXPECT_EQ(lines[0].rfind("power: no system bus", 0), 0U) << lines[0];
}

} // namespace
