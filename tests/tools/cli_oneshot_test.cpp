// `linkrelay-cli status`, `scan` and the help texts.
#include "cli_runner.h"
#include "event_frames.h"
#include "fake_device.h"
#include "tools/cli_options.h"

using linkrelay::cli::ExitRefused;
using linkrelay::cli::ExitSuccess;
using linkrelay::cli::ExitUsage;

namespace {

class CliOneShot : public ::testing::Test {
protected:
    FakeDevice device;
    FakeGobServer ready{statusFrame(1, 0)};

    void SetUp() override { ready.setResponder(device.responder()); }

    CliRun scan(const std::vector<std::string>& options) {
        std::vector<std::string> arguments = {"scan", "--seconds", "0.5"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        return runCliAgainst({"127.0.0.1", ready.port()}, arguments);
    }
};

TEST_F(CliOneShot, StatusPrintsTheConduitState) {
    FakeGobServer failed{statusFrame(1, 1)};
    const CliRun run = runCliAgainst({"127.0.0.1", failed.port()}, {"status"});
    EXPECT_EQ(run.code, ExitSuccess);
    EXPECT_EQ(run.out, "status: conduit 1, state 1 (failed)\n");

    const CliRun json = runCliAgainst({"127.0.0.1", ready.port()}, {"--json", "status"});
    EXPECT_EQ(json.out, R"({"event":"status","conduitType":1,"state":0,"stateName":"ready"})"
                        "\n");
}

TEST_F(CliOneShot, ScanPrintsEachDeviceOnceWithWhatAllItsAdvertisementsTold) {
    const CliRun run = scan({});
    EXPECT_EQ(run.code, ExitSuccess) << run.err;
    EXPECT_EQ(run.out, "C0:11:22:33:44:55 rssi -62 name \"Pulse\" services 180d\n"
                       "D0:00:00:00:00:01 rssi -75 name \"Thermo\" services 1809\n");
    EXPECT_TRUE(ready.waitRequests(2, std::chrono::seconds(5)));
    std::vector<int> types;
    for (const Gob& gob : ready.requests()) {
        types.push_back(gob.storage()[0]);
    }
    EXPECT_EQ(types, (std::vector<int>{GobStartScan, GobStopScan}));
}

TEST_F(CliOneShot, ScanFiltersByNameAndByServiceInEitherForm) {
    EXPECT_EQ(scan({"--name", "PUL"}).out,
              "C0:11:22:33:44:55 rssi -62 name \"Pulse\" services 180d\n");
    EXPECT_EQ(scan({"--service", "00001809-0000-1000-8000-00805f9b34fb"}).out,
              "D0:00:00:00:00:01 rssi -75 name \"Thermo\" services 1809\n");
    EXPECT_EQ(scan({"--name", "nobody"}).out, "");
}

TEST_F(CliOneShot, ScanAllPrintsEveryAdvertisement) {
    const CliRun run = scan({"--all", "--json"});
    const std::vector<std::string> lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), 3u) << run.out;
    EXPECT_EQ(lines[1], R"({"event":"scan","address":"C0:11:22:33:44:55","rssi":-62,)"
                        R"("data":"060950756c7365","name":"Pulse","services":[]})");
}

TEST_F(CliOneShot, ScanIsNotAttemptedWhileTheDongleIsNotReady) {
    FakeGobServer notReady{statusFrame(1, 2)};
    const CliRun run = runCliAgainst({"127.0.0.1", notReady.port()}, {"scan"});
    EXPECT_EQ(run.code, ExitRefused);
    EXPECT_NE(run.err.find("not ready"), std::string::npos);
    EXPECT_TRUE(notReady.requests().empty());
}

TEST(CliHelp, EveryCommandHasHelpAndTheExitCodesAreListed) {
    const ServiceEndpoint unused;
    const CliRun top = runCliAgainst(unused, {"--help"});
    EXPECT_EQ(top.code, ExitSuccess);
    EXPECT_NE(top.out.find("Exit codes:"), std::string::npos);
    for (const char* command : {"status", "scan", "session"}) {
        const CliRun run = runCliAgainst(unused, {command, "--help"});
        EXPECT_EQ(run.code, ExitSuccess);
        EXPECT_TRUE(run.out.starts_with(std::string("usage: linkrelay-cli [OPTIONS] ") + command))
            << run.out;
    }
    for (const char* command :
         {"connect", "services", "chars", "read", "write", "notify", "indicate", "unsubscribe",
          "rssi", "disconnect", "scan", "wait", "sleep", "help", "quit"}) {
        const CliRun run = runCliAgainst(unused, {"help", "session", command});
        EXPECT_EQ(run.code, ExitSuccess) << command;
        EXPECT_TRUE(run.out.starts_with(std::string("usage: ") + command)) << run.out;
    }
    EXPECT_EQ(runCliAgainst(unused, {"help", "session", "dance"}).code, ExitUsage);
    EXPECT_EQ(runCliAgainst(unused, {"dance"}).code, ExitUsage);
    EXPECT_EQ(runCliAgainst(unused, {"--port", "0", "status"}).code, ExitUsage);
    EXPECT_EQ(runCliAgainst(unused, {"scan", "--seconds"}).code, ExitUsage);
}

} // namespace
