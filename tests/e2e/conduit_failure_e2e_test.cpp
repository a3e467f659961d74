// The whole system on a simulated dongle that fails: no dongle, unplug and replug, a
// silent dongle, an unknown message, recovery, a dongle out of memory, a connect that
// never completes, and SIGTERM in each phase.
#include "conduit_e2e_fixture.h"

#include <algorithm>

using linkrelay::Client;
using linkrelay::ScanResultEvent;
using linkrelay::StatusEvent;

namespace e2e {
namespace {

bool discovering(const harness::SimDongleProcess& dongle) {
    return dongle.control("status").find("discovering: yes") != std::string::npos;
}

// The first status event whose state differs from `previous`, skipping everything
// else. A client added while the dongle becomes ready may hear "ready" twice: in its
// greeting, and from the event posted just before it was added.
int32_t nextState(Client& client, int32_t previous, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const int32_t state =
            client.waitStatus(std::max(left, std::chrono::milliseconds(0))).conduitState;
        if (state != previous) {
            return state;
        }
    }
}

TEST_F(ConduitE2e, NoDongleIsSearchedForOnceASecondUntilItAppears) {
    ASSERT_NO_FATAL_FAILURE(startService());
    ASSERT_TRUE(waitLines("BG conduit: couldn't find serial port", 3, 10s));
    EXPECT_GE(countLines("BG conduit: initing"), 3);
    EXPECT_GE(countLines("BG conduit: finding serial port"), 3);
    EXPECT_EQ(countLines("BG conduit: opening serial port"), 0);
    StatusEvent status;
    auto client = openClient(&status);
    EXPECT_NE(status.conduitState, 0);

    ASSERT_NO_FATAL_FAILURE(startDongle());
    ASSERT_TRUE(waitLines("BG conduit: ready", 1, 30s));
    EXPECT_EQ(nextState(*client, status.conduitState, 5s), 0) << "becoming ready is posted";
}

TEST_F(ConduitE2e, UnplugFailsTheDongleAndReplugRecoversIt) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    auto client = openClient();
    client->connect(address(pulseHr));
    client->waitConnected(address(pulseHr), 10s);

    EXPECT_EQ(dongle->control("unplug"), "ok\n");
    EXPECT_EQ(nextState(*client, 0, 5s), 1);
    EXPECT_EQ(client->waitDisconnected(address(pulseHr), 5s).reason, 4) << "the lost link";
    EXPECT_GE(countLines("BG conduit: reading header failed. Error code: "), 1);
    ASSERT_TRUE(waitLines("BG conduit: couldn't find serial port", 2, 10s));

    EXPECT_EQ(dongle->control("replug"), "ok\n");
    ASSERT_TRUE(waitLines("BG conduit: ready", 2, 30s));
    EXPECT_EQ(nextState(*client, 1, 5s), 0);
    client->connect(address(pulseHr));
    client->waitConnected(address(pulseHr), 10s);
}

TEST_F(ConduitE2e, SilentDongleIsHelloedTwiceThenGivenUp) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    auto client = openClient();
    EXPECT_EQ(dongle->control("record clear"), "ok\n");
    EXPECT_EQ(dongle->control("silence on"), "ok\n");

    ASSERT_TRUE(waitLines("BG conduit: seems like dongle hasn't responded for", 1, 15s));
    EXPECT_EQ(countLines("BG conduit: seems like dongle hasn't responded for 6000 ms"), 1);
    EXPECT_EQ(nextState(*client, 0, 5s), 1);
    const std::vector<std::string> record = dongle->record();
    const auto hellos = std::count_if(record.begin(), record.end(), [](const std::string& line) {
        return line.find(" system_hello ") != std::string::npos;
    });
    EXPECT_EQ(hellos, 2) << "at 2 and 4 s";

    EXPECT_EQ(dongle->control("silence off"), "ok\n");
    ASSERT_TRUE(waitLines("BG conduit: ready", 2, 40s));
    EXPECT_EQ(nextState(*client, 1, 5s), 0);
}

TEST_F(ConduitE2e, UnknownMessageClosesAndRecoveryRestoresLinksReportAndScan) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    auto client = openClient();
    client->startScan();
    waitKind<ScanResultEvent>(*client, 10s, "a scan result");
    client->connect(address(echoPad));
    client->waitConnected(address(echoPad), 10s);

    EXPECT_EQ(dongle->control("unknown"), "ok\n");
    EXPECT_EQ(nextState(*client, 0, 5s), 2);
    EXPECT_EQ(countLines("BG conduit: unknown message received"), 1);
    EXPECT_EQ(client->waitDisconnected(address(echoPad), 5s).reason, 4);

    ASSERT_TRUE(waitLines("BG conduit: ready", 2, 30s));
    EXPECT_EQ(nextState(*client, 2, 5s), 0);
    EXPECT_TRUE(harness::waitUntil([&] { return discovering(*dongle); }, 10s))
        << "the wanted scan runs again";
    while (client->nextEvent(0ms)) {
    }
    waitKind<ScanResultEvent>(*client, 10s, "a scan result after recovery");
}

TEST_F(ConduitE2e, WriteCommandsRefusedForLackOfMemoryAreSentAgain) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    auto client = openClient();
    const BleAddress echo = address(echoPad);
    ASSERT_NO_FATAL_FAILURE(connectToEchoChar(*client));

    EXPECT_EQ(dongle->control("busy 3"), "ok\n");
    client->write(echo, 0, std::vector<uint8_t>{0x0A, 0x0B}, false);
    client->waitWriteDone(echo, 10s);
    EXPECT_EQ(countLines("0x0182"), 3);
    const std::vector<std::string> sent = dongle->recorded("attclient_write_command");
    ASSERT_EQ(sent.size(), 4U);
    for (const std::string& chunk : sent) {
        EXPECT_EQ(chunk, sent.front()) << "the same chunk each time";
    }
    EXPECT_EQ(hexBytes(sent.back()).back(), 0x0B);
}

TEST_F(ConduitE2e, ConnectThatNeverCompletesIsAbandonedAfterItsTimeLimit) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    auto client = openClient();
    EXPECT_EQ(dongle->control("stall-connect 1"), "ok\n");
    client->connect(address(pulseHr));
    // The limit for the default 50 ms interval is 1.3 s, counted in whole seconds.
    ASSERT_TRUE(waitLines("BG conduit: aborted gap op connect", 1, 10s));
    EXPECT_TRUE(
        harness::waitUntil([&] { return !dongle->recorded("gap_end_procedure").empty(); }, 5s))
        << "the dongle leaves its connecting state";
    client->connect(address(pulseHr));
    client->waitConnected(address(pulseHr), 10s);
}

TEST_F(ConduitE2e, SigtermWhileSearchingExitsAtOnce) {
    ASSERT_NO_FATAL_FAILURE(startService());
    ASSERT_TRUE(waitLines("BG conduit: couldn't find serial port", 1, 10s));
    ASSERT_NO_FATAL_FAILURE(stopService(5s));
}

TEST_F(ConduitE2e, SigtermWhileOpeningExitsWhenTheOpeningEnds) {
    // The dongle stays away for 3 s after its reset; the opening holds on until then.
    ASSERT_NO_FATAL_FAILURE(startDongle({"--reenumerate-ms", "3000"}));
    ASSERT_NO_FATAL_FAILURE(startService());
    ASSERT_TRUE(waitLines("BG conduit: resetting", 1, 10s));
    ASSERT_NO_FATAL_FAILURE(stopService(20s));
}

TEST_F(ConduitE2e, SigtermWhileRunningExitsWithinAReadCycle) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    auto client = openClient();
    client->startScan();
    client->connect(address(pulseHr));
    client->waitConnected(address(pulseHr), 10s);
    ASSERT_NO_FATAL_FAILURE(stopService(5s));
}

TEST_F(ConduitE2e, SigtermWhileTheDongleIsSilentExitsWithinAReadCycle) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    const size_t hellos = dongle->recorded("system_hello").size();
    EXPECT_EQ(dongle->control("silence on"), "ok\n");
    // The reader has noticed the silence once it probes the dongle with a hello.
    ASSERT_TRUE(
        harness::waitUntil([&] { return dongle->recorded("system_hello").size() > hellos; }, 10s));
    ASSERT_NO_FATAL_FAILURE(stopService(5s));
}

} // namespace
} // namespace e2e
