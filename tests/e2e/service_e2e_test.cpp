// The real Linux program under a stand-in for systemd: notifications on a socket of the
// test, SIGTERM, SIGINT, SIGHUP, SIGUSR1 and SIGUSR2 as the stop control, the log file
// and its "service: ..." lines, and suspend/resume from a stand-in for logind on a
// private system bus.
#include "fake_login1.h"
#include "private_bus.h"
#include "process_harness.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using harness::ChildOptions;
using harness::ChildProcess;
using harness::linesFrom;
using harness::NotifySocket;
using harness::readFile;
using harness::TempDir;
using harness::waitUntil;

constexpr auto startTimeout = 10s;
constexpr auto exitTimeout = 15s;

const std::vector<std::string> startLines{
    "service: calling StartServiceCtrlDispatcher",
    "service: registering",
    "service: starting",
    "service: running",
    "service: starting linkrelay",
    "service: waiting for stop",
};
const std::vector<std::string> stopLines{
    "service: serviceCtrlHandler handling shutdown or stop",
    "service: stopping linkrelay",
    "service: stop pending",
    "service: stopping",
};

std::vector<std::string> joined(std::vector<std::string> first,
                                const std::vector<std::string>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

class ServiceE2eTest : public testing::Test {
protected:
    // Starts the program with its log in our folder and no system bus unless given.
    void startService(std::map<std::string, std::string> env, std::vector<std::string> unset = {}) {
        env["LOGS_DIRECTORY"] = logs();
        env.emplace("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + folder.file("no-bus"));
        service = std::make_unique<ChildProcess>(ChildOptions{
            .program = LINKRELAY_BINARY,
            .arguments = {},
            .setEnv = std::move(env),
            .unsetEnv = std::move(unset),
            .stdoutPath = folder.file("stdout"),
            .stderrPath = folder.file("stderr"),
        });
        ASSERT_TRUE(service->started());
    }

    std::string logs() const { return folder.file("logs"); }

    std::string logText() const {
        const std::vector<std::string> files = harness::filesIn(logs(), "zevlog-");
        return files.size() == 1 ? readFile(logs() + "/" + files[0]) : std::string();
    }

    std::vector<std::string> serviceLines() const { return linesFrom(logText(), "service: "); }

    bool waitForLine(const std::string& line, std::chrono::milliseconds timeout) const {
        return waitUntil(
            [&] {
                const std::vector<std::string> lines = serviceLines();
                return std::find(lines.begin(), lines.end(), line) != lines.end();
            },
            timeout);
    }

    // Sends the stop signal once the service waits for it; expects a clean exit.
    void stopWith(int signal) {
        ASSERT_TRUE(waitForLine("service: waiting for stop", startTimeout)) << logText();
        ASSERT_TRUE(service->sendSignal(signal));
        expectCleanExit();
    }

    void expectCleanExit() {
        const std::optional<int> status = service->waitExit(exitTimeout);
        ASSERT_TRUE(status.has_value()) << "the service did not end\n" << logText();
        ASSERT_TRUE(WIFEXITED(*status)) << "status " << *status;
        EXPECT_EQ(WEXITSTATUS(*status), 0);
    }

    // The log's last line, and the whole log as standard error got it.
    void expectCompleteLog() const {
        const std::string text = logText();
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(text.back(), '\n');
        const std::string lastLine = text.substr(text.rfind('\n', text.size() - 2) + 1);
        EXPECT_TRUE(lastLine.ends_with(" service: stopping\n")) << lastLine;
        EXPECT_EQ(readFile(folder.file("stderr")), text);
    }

    TempDir folder;
    std::unique_ptr<ChildProcess> service;
};

TEST_F(ServiceE2eTest, RunsUnderSystemdNotificationsAndStopsOnSigterm) {
    NotifySocket notify(folder.file("notify"));
    ASSERT_TRUE(notify.bound());
    startService({{"NOTIFY_SOCKET", notify.name()}});
    EXPECT_EQ(notify.receive(startTimeout), "READY=1");
    stopWith(SIGTERM);

    EXPECT_EQ(notify.receive(1s), "STOPPING=1");
    EXPECT_EQ(serviceLines(), joined(startLines, stopLines));
    expectCompleteLog();
}

TEST_F(ServiceE2eTest, AbstractNotificationSocketAndSigintWorkTheSame) {
    NotifySocket notify("@linkrelay-e2e-" + std::to_string(getpid()));
    ASSERT_TRUE(notify.bound());
    startService({{"NOTIFY_SOCKET", notify.name()}});
    EXPECT_EQ(notify.receive(startTimeout), "READY=1");
    stopWith(SIGINT);

    EXPECT_EQ(notify.receive(1s), "STOPPING=1");
    EXPECT_EQ(serviceLines(), joined(startLines, stopLines));
}

TEST_F(ServiceE2eTest, RunsAndStopsWithoutSystemd) {
    startService({}, {"NOTIFY_SOCKET"});
    stopWith(SIGTERM);
    EXPECT_EQ(serviceLines(), joined(startLines, stopLines));
    expectCompleteLog();
}

// SIGHUP, SIGUSR1 and SIGUSR2 would end the process at once by default: each is a clean
// stop instead, with the whole stop sequence logged.
TEST_F(ServiceE2eTest, HangupAndUserSignalsStopCleanlyLikeSigterm) {
    for (const int signal : {SIGHUP, SIGUSR1, SIGUSR2}) {
        SCOPED_TRACE(strsignal(signal));
        startService({}, {"NOTIFY_SOCKET"});
        stopWith(signal);
        EXPECT_EQ(serviceLines(), joined(startLines, stopLines));
        expectCompleteLog();
        service.reset();
        std::filesystem::remove_all(logs());
    }
}

// Suspend and resume from logind on the system bus run the service's steps; the
// inhibitor is given back before the sleep and taken again after it.
TEST_F(ServiceE2eTest, SuspendAndResumeStopAndStartTheWorkers) {
    harness::PrivateBus bus;
    ASSERT_FALSE(bus.address().empty());
    harness::FakeLogin1 login1(bus.address(), [](const std::string&) {});
    ASSERT_TRUE(login1.ready());
    startService({{"DBUS_SYSTEM_BUS_ADDRESS", bus.address()}}, {"NOTIFY_SOCKET"});

    ASSERT_TRUE(login1.pumpUntil([&] { return login1.inhibitorsHeld() == 1; }, startTimeout));
    ASSERT_TRUE(login1.emitPrepareForSleep(true));
    ASSERT_TRUE(login1.pumpUntil([&] { return login1.inhibitorsReleased() == 1; }, 10s));
    ASSERT_TRUE(login1.emitPrepareForSleep(false));
    // The resume steps wait 4 seconds before they start the workers.
    ASSERT_TRUE(login1.pumpUntil(
        [&] {
            return login1.inhibitorsHeld() == 1 &&
                   waitForLine("service: handling resume (starting linkrelay)", 0ms);
        },
        15s));
    stopWith(SIGTERM);
    EXPECT_TRUE(login1.pumpUntil([&] { return login1.inhibitorsReleased() == 2; }, 5s));

    EXPECT_EQ(serviceLines(),
              joined(joined(startLines,
                            {"service: handling suspend", "service: handling resume (sleeping)",
                             "service: handling resume (starting linkrelay)"}),
                     stopLines));
    expectCompleteLog();
}

// A stop that comes while the resume steps sleep ends the service cleanly: the late
// start that follows the sleep must not bring the workers back.
TEST_F(ServiceE2eTest, StopDuringTheResumePauseEndsCleanly) {
    harness::PrivateBus bus;
    ASSERT_FALSE(bus.address().empty());
    harness::FakeLogin1 login1(bus.address(), [](const std::string&) {});
    ASSERT_TRUE(login1.ready());
    startService({{"DBUS_SYSTEM_BUS_ADDRESS", bus.address()}}, {"NOTIFY_SOCKET"});

    ASSERT_TRUE(login1.pumpUntil([&] { return login1.inhibitorsHeld() == 1; }, startTimeout));
    ASSERT_TRUE(login1.emitPrepareForSleep(true));
    ASSERT_TRUE(login1.emitPrepareForSleep(false));
    ASSERT_TRUE(login1.pumpUntil(
        [&] { return waitForLine("service: handling resume (sleeping)", 0ms); }, 10s));
    ASSERT_TRUE(service->sendSignal(SIGTERM));
    expectCleanExit();

    const std::vector<std::string> lines = serviceLines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "service: stopping");
    expectCompleteLog();
}

} // namespace
