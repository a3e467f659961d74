// The conduit end-to-end fixture. See conduit_e2e_fixture.h.
#include "conduit_e2e_fixture.h"

#include "linkrelay/uuid_text.h"

#include <algorithm>
#include <csignal>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

using linkrelay::Client;
using linkrelay::ClientError;
using linkrelay::parseAddress;
using linkrelay::parseUuid;
using linkrelay::StatusEvent;

namespace e2e {

BleAddress address(const std::string& text) {
    const std::optional<BleAddress> parsed = parseAddress(text);
    EXPECT_TRUE(parsed.has_value()) << text;
    return parsed.value_or(BleAddress{});
}

UuidRecord uuid(const std::string& text) {
    const std::optional<UuidRecord> parsed = parseUuid(text);
    EXPECT_TRUE(parsed.has_value()) << text;
    return parsed.value_or(UuidRecord{});
}

std::vector<uint8_t> hexBytes(const std::string& text) {
    std::vector<uint8_t> bytes;
    std::istringstream in(text);
    for (std::string pair; in >> pair;) {
        bytes.push_back(static_cast<uint8_t>(std::stoul(pair, nullptr, 16)));
    }
    return bytes;
}

void ConduitE2e::SetUp() {
    // If another program holds the port, the clients of a test would talk to that program.
    ASSERT_TRUE(harness::waitUntil([] { return harness::portFree(Client::defaultPort); }, 30s))
        << "port 9089 is held by another program";
}

void ConduitE2e::TearDown() {
    if (service) {
        service->sendSignal(SIGTERM);
        service->waitExit(20s);
    }
    if (HasFailure()) {
        std::cerr << "--- service log ---\n" << logText();
    }
}

void ConduitE2e::startDongle(const std::vector<std::string>& extra) {
    dongle = std::make_unique<harness::SimDongleProcess>(folder, extra);
    ASSERT_TRUE(dongle->started()) << harness::readFile(folder.file("sim-stderr"));
}

void ConduitE2e::startService(int descriptorLimit) {
    std::string program = LINKRELAY_BINARY;
    std::vector<std::string> arguments{"--port", folder.file("dongle.tty")};
    if (descriptorLimit > 0) {
        // The shell sets the limit and becomes the program: same pid, same arguments.
        arguments.insert(arguments.begin(),
                         {"-c",
                          "ulimit -n " + std::to_string(descriptorLimit) + " && exec \"$0\" \"$@\"",
                          program});
        program = "/bin/sh";
    }
    service = std::make_unique<harness::ChildProcess>(harness::ChildOptions{
        .program = program,
        .arguments = arguments,
        .setEnv = {{"LOGS_DIRECTORY", folder.file("logs")},
                   {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + folder.file("no-bus")}},
        .unsetEnv = {"NOTIFY_SOCKET"},
        .stdoutPath = folder.file("stdout"),
        .stderrPath = folder.file("stderr"),
    });
    ASSERT_TRUE(service->started());
}

void ConduitE2e::startReady(const std::vector<std::string>& dongleOptions) {
    ASSERT_NO_FATAL_FAILURE(startDongle(dongleOptions));
    ASSERT_NO_FATAL_FAILURE(startService());
    ASSERT_TRUE(waitLines("BG conduit: ready", 1, 30s));
}

std::unique_ptr<Client> ConduitE2e::openClient(StatusEvent* status) {
    auto client = std::make_unique<Client>();
    // The service listens once its mux thread has set up; give it a few seconds.
    EXPECT_TRUE(harness::waitUntil(
        [&] {
            try {
                client->open();
            } catch (const ClientError&) {
            }
            return client->isOpen();
        },
        5s));
    const StatusEvent first = client->waitStatus(5s);
    if (status != nullptr) {
        *status = first;
    }
    return client;
}

void ConduitE2e::connectToEchoChar(Client& client) {
    const BleAddress echo = address(echoPad);
    client.connect(echo);
    client.waitConnected(echo, 10s);
    client.findAttributes(echo, {uuid(echoChar)});
    ASSERT_EQ(client.waitCharacteristics(echo, 10s).size(), 1U);
}

std::string ConduitE2e::logText() const {
    return harness::readFile(folder.file("stderr"));
}

std::vector<std::string> ConduitE2e::conduitLines() const {
    return harness::linesFrom(logText(), "BG conduit: ");
}

int ConduitE2e::countLines(const std::string& line) const {
    const std::vector<std::string> lines = harness::linesFrom(logText(), line);
    return static_cast<int>(
        std::count_if(lines.begin(), lines.end(),
                      [&](const std::string& found) { return found.starts_with(line); }));
}

bool ConduitE2e::waitLines(const std::string& line, int count,
                           std::chrono::milliseconds timeout) const {
    return harness::waitUntil([&] { return countLines(line) >= count; }, timeout);
}

void ConduitE2e::stopService(std::chrono::milliseconds bound) {
    ASSERT_TRUE(service->sendSignal(SIGTERM));
    const std::optional<int> status = service->waitExit(bound);
    ASSERT_TRUE(status.has_value()) << "no exit within " << bound.count() << " ms";
    ASSERT_TRUE(WIFEXITED(*status)) << "status " << *status;
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    service.reset();
}

} // namespace e2e
