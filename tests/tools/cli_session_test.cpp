// `linkrelay-cli session`: scripts and the prompt against a fake service with one device.
#include "cli_runner.h"
#include "event_frames.h"
#include "fake_device.h"
#include "gob/gob_requests.h"
#include "tools/cli_options.h"

#include <filesystem>
#include <fstream>

using linkrelay::cli::ExitConnectFailed;
using linkrelay::cli::ExitRefused;
using linkrelay::cli::ExitSuccess;
using linkrelay::cli::ExitTimeout;
using linkrelay::cli::ExitUsage;

namespace {

const std::string address = "C0:11:22:33:44:55";

class CliSession : public ::testing::Test {
protected:
    FakeDevice device;
    FakeGobServer server{statusFrame(1, 0)};

    void SetUp() override { server.setResponder(device.responder()); }

    ServiceEndpoint service() const { return {"127.0.0.1", server.port()}; }

    CliRun script(const std::string& text, const std::vector<std::string>& options = {}) {
        std::vector<std::string> arguments = options;
        arguments.insert(arguments.end(), {"session", "--script", "-"});
        return runCliAgainst(service(), arguments, text);
    }

    // The types of the requests that reached the service, in order.
    std::vector<int> requestTypes() {
        std::vector<int> types;
        for (const Gob& gob : server.requests()) {
            types.push_back(gob.storage()[0]);
        }
        return types;
    }
};

TEST_F(CliSession, ScriptConnectsDiscoversReadsWritesSubscribesAndDisconnects) {
    const std::filesystem::path file =
        std::filesystem::temp_directory_path() /
        ("linkrelay_cli_script_" + std::to_string(server.port()) + ".txt");
    std::ofstream(file) << "# walkthrough\n"
                           "connect " +
                               address +
                               "\n"
                               "services\n"
                               "chars 2a37 00002a39-0000-1000-8000-00805f9b34fb\n"
                               "read 2a39\n"
                               "write 1 0x0102\n"
                               "write --no-response 1 \"hi \\\"there\\\"\"\n"
                               "notify 2a37\n"
                               "wait value 2\n"
                               "unsubscribe 0\n"
                               "rssi\n"
                               "disconnect\n"
                               "quit\n"
                               "rssi\n";
    const CliRun run = runCliAgainst(service(), {"session", "--script", file.string()});
    std::filesystem::remove(file);

    EXPECT_EQ(run.code, ExitSuccess) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(hasLinesInOrder(run.out, {"status: conduit 1, state 0 (ready)"}));
    EXPECT_TRUE(hasLinesInOrder(run.out, {"> connect " + address,
                                          "connected: " + address,
                                          "> services",
                                          "service: " + address + " #0 1800",
                                          "service: " + address + " #1 180d",
                                          "> chars 2a37 00002a39-0000-1000-8000-00805f9b34fb",
                                          "characteristic: " + address + " #0 2a37",
                                          "characteristic: " + address +
                                              " #1 0000"
                                              "2a39-0000-1000-8000-00805f9b34fb",
                                          "> read 2a39",
                                          "value: " + address + " #1 0x01",
                                          "> write 1 0x0102",
                                          "write-done: " + address,
                                          "write-done: " + address,
                                          "> notify 2a37",
                                          "write-done: " + address,
                                          "value: " + address + " #0 0x0048",
                                          "value: " + address + " #0 0x004a",
                                          "> unsubscribe 0",
                                          "write-done: " + address,
                                          "> rssi",
                                          "rssi: " + address + " -58",
                                          "> disconnect",
                                          "disconnected: " + address + " reason 0 (local)",
                                          "> quit"}));
    // Nothing after quit runs.
    EXPECT_EQ(requestTypes(),
              (std::vector<int>{GobConnect, GobFindServices, GobFindAttributes, GobRead, GobWrite,
                                GobWrite, GobNotify, GobUnsubscribe, GobGetRssi, GobDisconnect}));

    // The quoted value went out as text, without response; the hex one with response.
    const std::vector<Gob> requests = server.requests();
    Gob textWrite = Gob::forReading(requests[5].storage(), requests[5].size(), false);
    BleAddress target;
    uint8_t index = 0;
    bool withResponse = true;
    const uint8_t* payload = nullptr;
    uint32_t length = 0;
    ASSERT_EQ(codeGobWrite(textWrite, target, index, withResponse, payload, length), 0);
    EXPECT_EQ(std::string(payload, payload + length), "hi \"there\"");
    EXPECT_FALSE(withResponse);
    EXPECT_EQ(index, 1);
    EXPECT_EQ(requests[4].storage()[8], 1); // withResponse of "write 1 0x0102"
}

TEST_F(CliSession, ARefusedRequestEndsTheScriptWithTheRefusalCode) {
    device.refused = {GobRead};
    const CliRun run = script("connect " + address + "\nchars 2a39\nread 1\nrssi\n");
    EXPECT_EQ(run.code, ExitRefused);
    EXPECT_NE(run.err.find("closed the connection"), std::string::npos) << run.err;
    EXPECT_EQ(requestTypes(), (std::vector<int>{GobConnect, GobFindAttributes, GobRead}));
}

TEST_F(CliSession, AnAnswerThatDoesNotComeEndsTheScriptWithTheTimeoutCode) {
    device.silent = {GobGetRssi};
    const CliRun run = script("connect " + address + "\nrssi\ndisconnect\n", {"--timeout", "0.2"});
    EXPECT_EQ(run.code, ExitTimeout);
    EXPECT_NE(run.err.find("no RSSI of " + address + " within 200 ms"), std::string::npos)
        << run.err;
    EXPECT_EQ(requestTypes(), (std::vector<int>{GobConnect, GobGetRssi}));
}

TEST_F(CliSession, ABadCommandEndsTheScriptBeforeAnythingIsSent) {
    for (const std::string line : {"connect C0:11:22", "read 0", "frobnicate", "write \"open",
                                   "scan maybe", "wait nothing", "sleep -1"}) {
        const CliRun run = script(line + "\nscan on\n");
        EXPECT_EQ(run.code, ExitUsage) << line;
        EXPECT_FALSE(run.err.empty()) << line;
    }
    const CliRun badValue = script("connect " + address + "\nwrite 1 0102\n");
    EXPECT_EQ(badValue.code, ExitUsage);
    EXPECT_NE(badValue.err.find("0xHEX"), std::string::npos);
    const CliRun unknownChar = script("connect " + address + "\nread 2a37\n");
    EXPECT_EQ(unknownChar.code, ExitUsage);
    EXPECT_EQ(requestTypes(), (std::vector<int>{GobConnect, GobConnect}));
}

TEST_F(CliSession, ThePromptReportsAFailedCommandAndGoesOn) {
    const CliRun run =
        runCliAgainst(service(), {"session"}, "read 0\nhelp read\nconnect " + address + "\nrssi\n");
    EXPECT_EQ(run.code, ExitSuccess);
    EXPECT_NE(run.err.find("no device: connect to one first"), std::string::npos);
    EXPECT_NE(run.out.find("usage: read CHAR"), std::string::npos);
    EXPECT_NE(run.out.find("linkrelay> "), std::string::npos);
    EXPECT_NE(run.out.find("rssi: " + address + " -58"), std::string::npos);
}

TEST_F(CliSession, JsonPrintsOneObjectPerEvent) {
    const CliRun run = script("connect " + address + "\nread 0\n", {"--json"});
    EXPECT_EQ(run.code, ExitSuccess) << run.err;
    EXPECT_TRUE(hasLinesInOrder(
        run.out, {R"({"event":"connected","address":")" + address + "\"}",
                  R"({"event":"value","address":")" + address + R"(","index":0,"value":"0040"})"}));
    for (const std::string& line : linesOf(run.out)) {
        EXPECT_TRUE(line.starts_with("{\"event\":") && line.ends_with("}")) << line;
    }
}

TEST(CliSessionConnection, NothingListeningGivesTheConnectionFailureCode) {
    uint16_t freePort = 0;
    {
        const FakeGobServer server;
        freePort = server.port();
    }
    const CliRun run =
        runCliAgainst({"127.0.0.1", freePort}, {"session", "--script", "-"}, "scan on\n");
    EXPECT_EQ(run.code, ExitConnectFailed);
    EXPECT_NE(run.err.find("is the service running?"), std::string::npos);
}

} // namespace
