// The built linkrelay-cli program, run as a process with a script on its standard input.
#include "cli_runner.h"
#include "event_frames.h"
#include "fake_device.h"
#include "tools/cli_options.h"

#include <cstdio>
#include <sys/wait.h>

using linkrelay::cli::ExitRefused;
using linkrelay::cli::ExitSuccess;
using linkrelay::cli::ExitTimeout;
using linkrelay::cli::ExitUsage;

namespace {

struct ProcessRun {
    int code = -1;
    std::string out;
};

// Runs `command` through the shell and collects its standard output.
ProcessRun runProcess(const std::string& command) {
    ProcessRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return run;
    }
    char buffer[512];
    size_t count = 0;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        run.out.append(buffer, count);
    }
    const int status = ::pclose(pipe);
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string cliCommand(uint16_t port, const std::string& options) {
    return std::string(LINKRELAY_CLI_BINARY) + " --port " + std::to_string(port) + " " + options +
           " session --script - 2>&1";
}

TEST(CliProcess, ScriptOnStandardInputPrintsTheAnswers) {
    FakeDevice device;
    FakeGobServer server{statusFrame(1, 0)};
    server.setResponder(device.responder());

    const ProcessRun run = runProcess("printf 'connect C0:11:22:33:44:55\\nread 1\\n' | " +
                                      cliCommand(server.port(), ""));
    EXPECT_EQ(run.code, ExitSuccess) << run.out;
    EXPECT_TRUE(
        hasLinesInOrder(run.out, {"> connect C0:11:22:33:44:55", "connected: C0:11:22:33:44:55",
                                  "> read 1", "value: C0:11:22:33:44:55 #1 0x01"}));
}

TEST(CliProcess, ExitCodesTellTimeoutRefusalAndUsageApart) {
    FakeDevice device;
    device.silent = {GobRead};
    device.refused = {GobGetRssi};
    FakeGobServer server{statusFrame(1, 0)};
    server.setResponder(device.responder());

    EXPECT_EQ(runProcess("printf 'connect C0:11:22:33:44:55\\nread 1\\n' | " +
                         cliCommand(server.port(), "--timeout 0.1"))
                  .code,
              ExitTimeout);
    EXPECT_EQ(runProcess("printf 'connect C0:11:22:33:44:55\\nrssi\\n' | " +
                         cliCommand(server.port(), ""))
                  .code,
              ExitRefused);
    EXPECT_EQ(runProcess(std::string(LINKRELAY_CLI_BINARY) + " frobnicate 2>&1").code, ExitUsage);
}

} // namespace
