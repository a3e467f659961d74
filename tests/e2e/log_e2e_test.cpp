// The real program with a log file that cannot be written: its log folder holds, under
// every name the first file can take, a link to /dev/full. The service must go on serving
// clients, note the failure once, and keep every line in standard error.
#include "gob_socket.h"
#include "process_harness.h"

#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/wait.h>

namespace {

using namespace std::chrono_literals;
using harness::ChildOptions;
using harness::ChildProcess;
using harness::countOf;
using harness::linesFrom;
using harness::readFile;
using harness::TempDir;
using harness::waitUntil;

// The first log file's name for a start in `second` (seconds since 1970, local time).
std::string firstLogName(time_t second) {
    tm local{};
    localtime_r(&second, &local);
    char name[64];
    std::strftime(name, sizeof name, "zevlog-%Y-%m-%d.%H-%M-%S.txt", &local);
    return name;
}

TEST(LogE2e, LogFileOnAFullDiskLeavesTheServiceServingAndStandardErrorComplete) {
    TempDir folder;
    const std::string logs = folder.file("logs");
    ASSERT_TRUE(std::filesystem::create_directory(logs));
    const time_t now = std::time(nullptr);
    for (time_t second = now - 1; second < now + 10; ++second) {
        const std::string link = logs + "/" + firstLogName(second);
        ASSERT_EQ(::symlink("/dev/full", link.c_str()), 0) << link;
    }
    const std::string stderrPath = folder.file("stderr");
    ChildProcess service(ChildOptions{
        .program = LINKRELAY_BINARY,
        .arguments = {},
        .setEnv = {{"LOGS_DIRECTORY", logs},
                   {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + folder.file("no-bus")}},
        .unsetEnv = {"NOTIFY_SOCKET"},
        .stdoutPath = folder.file("stdout"),
        .stderrPath = stderrPath,
    });
    ASSERT_TRUE(service.started());
    const auto hasLine = [&](const std::string& line) {
        return !linesFrom(readFile(stderrPath), line).empty();
    };
    ASSERT_TRUE(waitUntil([&] { return hasLine("service: waiting for stop"); }, 10s))
        << readFile(stderrPath);

    for (int client = 0; client < 2; ++client) {
        GobSocket socket;
        ASSERT_TRUE(socket.open(gobDefaultPort, 10s));
        const std::optional<Gob> first = socket.waitGob(5s);
        ASSERT_TRUE(first.has_value());
        EXPECT_EQ(gobType(*first), GobStatus);
    }
    ASSERT_TRUE(waitUntil([&] { return countOf(readFile(stderrPath), "mux: remove ") == 2; }, 5s))
        << readFile(stderrPath);
    ASSERT_TRUE(service.sendSignal(SIGTERM));
    const std::optional<int> status = service.waitExit(15s);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;

    const std::string console = readFile(stderrPath);
    EXPECT_EQ(countOf(console, "log: cannot write "), 1) << console;
    for (const char* line : {"service: running", "mux: no current connections", "mux: add ",
                             "mux: current connections", "mux: remove ", "service: stopping"}) {
        EXPECT_FALSE(linesFrom(console, line).empty()) << line << " missing in\n" << console;
    }
    EXPECT_TRUE(console.ends_with(" service: stopping\n")) << console;
}

} // namespace
