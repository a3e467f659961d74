// The real program's command line: --listen binds the address and port it names and no
// other, bad values end the program at start with status 2 and the usage text, and
// --version prints the version line of both programs.
//
// Each service here listens on a free port of its own, so none of these tests needs the
// port 9089 lock.
#include "linkrelay/client.h"
#include "linkrelay/client_error.h"
#include "process_harness.h"

#include <gtest/gtest.h>

#include <memory>
#include <netinet/in.h>
#include <regex>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using linkrelay::Client;
using linkrelay::ClientError;
using linkrelay::ClientErrorKind;

namespace {

using namespace std::chrono_literals;
using harness::ChildOptions;
using harness::ChildProcess;
using harness::readFile;
using harness::TempDir;
using harness::waitUntil;

constexpr auto listenTimeout = 10s;
constexpr auto exitTimeout = 15s;

// A port that nothing on 127.0.0.1 listens on right now (the kernel's pick).
uint16_t freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                       ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0;
    ::close(fd);
    return bound ? ntohs(address.sin_port) : 0;
}

// How a connection attempt to host:port ended: the first status, or the error kind.
enum class Reach { Status, Refused, Other };

Reach reach(const std::string& host, uint16_t port) {
    Client client;
    try {
        client.open(host, port, 2s);
        client.waitStatus(5s);
        return Reach::Status;
    } catch (const ClientError& error) {
        return error.kind() == ClientErrorKind::Refused ? Reach::Refused : Reach::Other;
    }
}

class ListenE2eTest : public testing::Test {
protected:
    // Runs linkrelay --simulate with `arguments`, its log in our folder, no system bus.
    void start(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "--simulate");
        service = std::make_unique<ChildProcess>(ChildOptions{
            .program = LINKRELAY_BINARY,
            .arguments = std::move(arguments),
            .setEnv = {{"LOGS_DIRECTORY", folder.file("logs")},
                       {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + folder.file("no-bus")}},
            .unsetEnv = {"NOTIFY_SOCKET"},
            .stdoutPath = folder.file("stdout"),
            .stderrPath = folder.file("stderr"),
        });
        ASSERT_TRUE(service->started());
    }

    bool waitForLog(const std::string& text) const {
        return waitUntil([&] { return stderrText().find(text) != std::string::npos; },
                         listenTimeout);
    }

    std::string stderrText() const { return readFile(folder.file("stderr")); }

    // The exit status of a program expected to end by itself.
    int exitStatus() {
        const std::optional<int> status = service->waitExit(exitTimeout);
        if (!status || !WIFEXITED(*status)) {
            ADD_FAILURE() << "the program did not exit by itself\n" << stderrText();
            return -1;
        }
        return WEXITSTATUS(*status);
    }

    void stop() {
        ASSERT_TRUE(service->sendSignal(SIGTERM));
        EXPECT_EQ(exitStatus(), 0);
    }

    TempDir folder;
    std::unique_ptr<ChildProcess> service;
};

TEST_F(ListenE2eTest, LoopbackAddressIsReachableThereAndNowhereElse) {
    const uint16_t port = freePort();
    const uint16_t otherPort = freePort();
    ASSERT_NE(port, 0);
    start({"--listen", "127.0.0.1:" + std::to_string(port)});
    ASSERT_TRUE(waitForLog("mux: listening on 127.0.0.1:" + std::to_string(port) + "\n"))
        << stderrText();

    EXPECT_EQ(reach("127.0.0.1", port), Reach::Status);
    // 127.0.0.2 is a loopback address too, but not the one bound.
    EXPECT_EQ(reach("127.0.0.2", port), Reach::Refused);
    if (otherPort != port) {
        EXPECT_EQ(reach("127.0.0.1", otherPort), Reach::Refused);
    }
    stop();
}

TEST_F(ListenE2eTest, EveryInterfaceAndHostNamesWork) {
    const uint16_t port = freePort();
    ASSERT_NE(port, 0);
    start({"--listen", "0.0.0.0:" + std::to_string(port)});
    ASSERT_TRUE(waitForLog("mux: listening on 0.0.0.0:" + std::to_string(port) + "\n"))
        << stderrText();
    EXPECT_EQ(reach("127.0.0.1", port), Reach::Status);
    EXPECT_EQ(reach("127.0.0.2", port), Reach::Status);
    stop();

    // A name is resolved once at start; "localhost" is 127.0.0.1 only.
    start({"--listen", "localhost:" + std::to_string(port)});
    ASSERT_TRUE(waitForLog("mux: listening on 127.0.0.1:" + std::to_string(port) + "\n"))
        << stderrText();
    EXPECT_EQ(reach("127.0.0.1", port), Reach::Status);
    EXPECT_EQ(reach("127.0.0.2", port), Reach::Refused);
    stop();
}

TEST_F(ListenE2eTest, BadValuesEndTheProgramAtStartWithTheUsage) {
    const struct {
        std::string value;
        std::string message;
    } cases[] = {
        {"1.2.3", "\"1.2.3\" is not an IPv4 address"},
        {"256.1.1.1", "\"256.1.1.1\" is not an IPv4 address"},
        {"127.000.000.010", "\"127.000.000.010\" has a number with a leading zero"},
        {"host:99999", "port \"99999\" is not a number from 1 to 65535"},
        {"127.0.0.1:", "port \"\" is not a number from 1 to 65535"},
        {"127.0.0.1:0", "port \"0\" is not a number from 1 to 65535"},
        {"", "the address is empty"},
        {":9089", "no host before the ':'"},
        {"::1", "\"::1\" has more than one ':'"},
        {"no-such-host.invalid", "cannot resolve \"no-such-host.invalid\" to an IPv4 address: "},
    };
    for (const auto& bad : cases) {
        SCOPED_TRACE("--listen \"" + bad.value + "\"");
        start({"--listen", bad.value});
        EXPECT_EQ(exitStatus(), 2);
        const std::string text = stderrText();
        EXPECT_NE(text.find("linkrelay: --listen \"" + bad.value + "\": " + bad.message),
                  std::string::npos)
            << text;
        EXPECT_NE(text.find("usage: linkrelay "), std::string::npos) << text;
        EXPECT_EQ(text.find("mux: "), std::string::npos) << "the service started:\n" << text;
    }
}

TEST_F(ListenE2eTest, BothProgramsPrintTheirVersion) {
    const std::regex line("linkrelay " LINKRELAY_VERSION " \\([0-9a-f]{10}\\)\n");
    for (const char* program : {LINKRELAY_BINARY, LINKRELAY_CLI_BINARY}) {
        SCOPED_TRACE(program);
        ChildProcess child(ChildOptions{
            .program = program,
            .arguments = {"--version"},
            .setEnv = {},
            .unsetEnv = {},
            .stdoutPath = folder.file("version"),
            .stderrPath = {},
        });
        const std::optional<int> status = child.waitExit(exitTimeout);
        ASSERT_TRUE(status.has_value());
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
        const std::string text = readFile(folder.file("version"));
        EXPECT_TRUE(std::regex_match(text, line)) << text;
    }
}

} // namespace
