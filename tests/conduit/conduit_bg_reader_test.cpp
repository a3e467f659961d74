// The reader side of ConduitBg: opening the dongle, the reader cycle with its watchdog and
// its protocol errors, closing, and the reader loop, on a scripted line with recorded
// sleeps.
#include "conduit_bg_test_support.h"

#include "conduit/bgapi/bgapi_pack.h"
#include "conduit/serial/serial_io.h"
#include "gob/gob_events.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>

namespace {

const Bytes systemReset{0x00, 0x01, 0x00, 0x00, 0x00};
const Bytes systemHello{0x00, 0x00, 0x00, 0x01};
const Bytes setScanParameters{0x00, 0x05, 0x06, 0x07, 0xD0, 0x07, 0xD0, 0x07, 0x01};

Bytes status(ConduitState state) {
    return gobBytes(buildStatusGob, ConduitKind::Dongle, state);
}

// A conduit that has not been opened, on a line whose dongle answers the scan parameters
// unless told otherwise.
class ConduitBgOpeningTest : public ::testing::Test {
protected:
    ConduitBgOpeningTest() {
        line->setInstantEmpty(true);
        line->setOnWrite([this](const Bytes& written) {
            if (written == setScanParameters && answerScanParameters) {
                line->pushBytes(response(6, 7, le16(scanParametersResult)));
            }
        });
    }
    ~ConduitBgOpeningTest() override {
        closeSerialPort(); // also forgets bytes kept from an unfinished read
        bgOutput = nullptr;
        writeQueue.clear();
        activeConduit = nullptr;
    }

    std::shared_ptr<FakeSerial> line = std::make_shared<FakeSerial>();
    FakeSerialPortSource source{line};
    TestConduit conduit{source};
    std::size_t mark = logMark();
    bool answerScanParameters = true;
    uint16_t scanParametersResult = 0;
};

TEST_F(ConduitBgOpeningTest, OpeningResetsReopensSetsScanParametersAndPostsReady) {
    ASSERT_TRUE(conduit.init());

    EXPECT_EQ(line->writes(), (std::vector<Bytes>{systemReset, setScanParameters}));
    EXPECT_EQ(line->opens(), 2);
    EXPECT_EQ(line->closes(), 1) << "closed right after the reset";
    EXPECT_EQ(conduit.sleeps, std::vector<uint32_t>{500});
    EXPECT_TRUE(conduit.ready.load());
    EXPECT_EQ(conduit.getState(), ConduitState::Ready);
    EXPECT_EQ(conduit.posted, std::vector<Bytes>{status(ConduitState::Ready)});
    EXPECT_EQ(activeConduit, &conduit);
    const std::string log = logSince(mark);
    std::size_t at = 0;
    for (const char* text :
         {"BG conduit: initing\n", "BG conduit: finding serial port\n",
          "BG conduit: opening serial port\n", "BG conduit: resetting\n",
          "BG conduit: closing serial port\n", "BG conduit: closed serial port successfully\n",
          "BG conduit: opening serial port\n", "BG conduit: setting scan parameters\n",
          "BG conduit: ready\n"}) {
        at = log.find(text, at);
        ASSERT_NE(at, std::string::npos) << text;
    }

    EXPECT_FALSE(conduit.init());
    EXPECT_EQ(logCount(mark, "BG conduit: already initialized\n"), 1);
}

TEST_F(ConduitBgOpeningTest, AScanThatClientsStillWantIsStartedAgain) {
    conduit.scanWanted = true;
    ASSERT_TRUE(conduit.init());
    ASSERT_EQ(conduit.gapOps.size(), 1U);
    EXPECT_EQ(conduit.gapOps.front().type, GapOpType::StartScan);
}

TEST_F(ConduitBgOpeningTest, FailedOpeningsStoreTheirStateWithoutPostingIt) {
    line->unplug();
    EXPECT_FALSE(conduit.init());
    EXPECT_EQ(logCount(mark, "BG conduit: couldn't find serial port\n"), 1);
    EXPECT_EQ(conduit.getState(), ConduitState::Failed);
    EXPECT_EQ(activeConduit, nullptr);

    line->replug();
    line->setOpenFails(true);
    EXPECT_FALSE(conduit.init());
    EXPECT_EQ(logCount(mark, "BG conduit: couldn't open serial port\n"), 1);
    EXPECT_EQ(activeConduit, nullptr);

    EXPECT_TRUE(conduit.posted.empty());
    EXPECT_FALSE(conduit.ready.load());
}

TEST_F(ConduitBgOpeningTest, APortThatDoesNotComeBackAfterTheResetIsTriedTenTimes) {
    line->setOnWrite([this](const Bytes& written) {
        if (written == systemReset) {
            line->setOpenFails(true);
        }
    });

    EXPECT_FALSE(conduit.init());

    EXPECT_EQ(conduit.sleeps, std::vector<uint32_t>(10, 500));
    EXPECT_EQ(logCount(mark, "BG conduit: opening serial port\n"), 11);
    EXPECT_EQ(logCount(mark, "BG conduit: couldn't reopen serial port\n"), 1);
    EXPECT_EQ(conduit.getState(), ConduitState::Failed);
    EXPECT_EQ(serialPort, nullptr);
}

TEST_F(ConduitBgOpeningTest, UnconfirmedScanParametersGiveUpAfter100Cycles) {
    answerScanParameters = false;

    EXPECT_FALSE(conduit.init());

    EXPECT_EQ(line->reads(), 100);
    // Hellos at 1100, 2200, 3300 and 4400 ms of silence.
    const std::vector<Bytes> writes = line->writes();
    EXPECT_EQ(std::count(writes.begin(), writes.end(), systemHello), 4);
    EXPECT_EQ(logCount(mark, "BG conduit: couldn't set scan parameters\n"), 1);
    EXPECT_EQ(conduit.getState(), ConduitState::NotReady);
    EXPECT_FALSE(line->isOpen());
    EXPECT_EQ(activeConduit, nullptr);
}

TEST_F(ConduitBgOpeningTest, AnErrorForTheScanParametersLeavesTheConduitNotReady) {
    scanParametersResult = 0x0181;
    EXPECT_FALSE(conduit.init());
    EXPECT_EQ(logCount(mark, "bluegiga error 181 in ble_rsp_gap_set_scan_parameters\n"), 1);
    EXPECT_EQ(conduit.getState(), ConduitState::NotReady);
    EXPECT_FALSE(conduit.ready.load());
}

TEST_F(ConduitBgOpeningTest, TheLoopRetriesOncePerSecondAndClosesWhenStopped) {
    line->unplug();
    int checks = 0;
    conduit.runReaderLoop([&checks] { return ++checks > 8; });

    EXPECT_EQ(logCount(mark, "BG conduit: couldn't find serial port\n"), 1);
    EXPECT_EQ(conduit.sleeps, std::vector<uint32_t>(6, 100)) << "the wait ends at the stop";
    EXPECT_EQ(logCount(mark, "BG conduit: closing serial port\n"), 1);
    EXPECT_EQ(logCount(mark, "BG conduit: closing serial port failed, error: -1\n"), 1);
}

TEST_F(ConduitBgOpeningTest, TheLoopReopensAfterAFailedCycle) {
    int checks = 0;
    bool unplugged = false;
    conduit.runReaderLoop([&] {
        if (!unplugged && conduit.ready.load()) {
            line->pushError(); // the port fails once the dongle is ready
            unplugged = true;
        }
        return ++checks > 200 || logCount(mark, "BG conduit: ready\n") == 2;
    });

    EXPECT_EQ(logCount(mark, "BG conduit: reading header failed. Error code: ffffffff\n"), 1);
    EXPECT_EQ(conduit.posted,
              (std::vector<Bytes>{status(ConduitState::Ready), status(ConduitState::Failed),
                                  status(ConduitState::Ready)}));
    EXPECT_EQ(line->opens(), 4);
    EXPECT_EQ(conduit.getState(), ConduitState::NotReady) << "closed at the stop";
}

using ConduitBgCycleTest = ConduitBgTest;

TEST_F(ConduitBgCycleTest, ASilentDongleIsGreetedAtTwoAndFourSecondsAndGivenUpAfterSix) {
    for (int cycle = 1; cycle <= 5; ++cycle) {
        EXPECT_EQ(conduit.readCycle(1000), ConduitBg::CycleEnd::Silent) << cycle;
        const Bytes written = takeWritten();
        EXPECT_EQ(written, cycle == 2 || cycle == 4 ? systemHello : Bytes{}) << cycle;
    }
    EXPECT_EQ(conduit.readCycle(1000), ConduitBg::CycleEnd::Reopen);

    EXPECT_EQ(logCount(mark, "BG conduit: seems like dongle hasn't responded for 6000 ms\n"), 1);
    EXPECT_EQ(conduit.posted, std::vector<Bytes>{status(ConduitState::Failed)});
}

// A write that fails gives the port up: the reader is kicked, later writes fail without
// touching the port (no second wait on a wedged dongle), and the next cycle posts failed
// and asks for the port to be opened again. Closing forgets the failure.
TEST_F(ConduitBgCycleTest, AFailedWriteGivesThePortUpAndLaterWritesDoNotTouchIt) {
    const BleAddress device = testAddress(0xB1, 0x01);
    conduit.connections[device] = 2;
    line->setFailWrites(true);
    const int kicks = line->cancels();
    EXPECT_TRUE(conduit.getRssi(device));
    EXPECT_EQ(line->cancels(), kicks + 2) << "the operation's kick and the failure's";
    EXPECT_TRUE(serialPortFailed());
    line->setFailWrites(false);
    EXPECT_TRUE(conduit.getRssi(device));
    EXPECT_TRUE(takeWritten().empty()) << "a failed port is not written to again";
    EXPECT_EQ(logCount(mark, "writing to serial port failed\n"), 1);

    EXPECT_EQ(conduit.readCycle(1000), ConduitBg::CycleEnd::Reopen);
    EXPECT_EQ(logCount(mark, "BG conduit: the serial port does not take writes, giving it up\n"),
              1);
    EXPECT_EQ(conduit.posted, std::vector<Bytes>{status(ConduitState::Failed)});
    conduit.close();
    EXPECT_FALSE(serialPortFailed());
}

TEST_F(ConduitBgCycleTest, AnyMessageResetsTheWatchdog) {
    EXPECT_EQ(conduit.readCycle(1000), ConduitBg::CycleEnd::Silent);
    EXPECT_EQ(conduit.readCycle(1000), ConduitBg::CycleEnd::Silent);
    ASSERT_EQ(conduit.lastHelloMs, 2000U);

    deliver(event(0, 0, {1, 0, 2, 0, 3, 0, 4, 0, 5, 6, 7, 8})); // system_boot, unhandled

    EXPECT_EQ(conduit.silentMs, 0U);
    EXPECT_EQ(conduit.lastHelloMs, 0U);
    deliver(response(0, 1, {})); // system_hello: no payload to read
    EXPECT_EQ(conduit.silentMs, 0U);
}

TEST_F(ConduitBgCycleTest, ACancelledReadEndsTheCycleAndLeavesTheWatchdogAlone) {
    conduit.silentMs = 3000;
    conduit.lastHelloMs = 2000;
    kickReader();

    EXPECT_EQ(conduit.readCycle(1000), ConduitBg::CycleEnd::Handled);

    EXPECT_EQ(conduit.silentMs, 3000U);
    EXPECT_EQ(conduit.lastHelloMs, 2000U);
}

TEST_F(ConduitBgCycleTest, AGapStepRunsBeforeEachRead) {
    ASSERT_TRUE(conduit.startScan());
    EXPECT_EQ(conduit.readCycle(1000), ConduitBg::CycleEnd::Handled); // the kick ends the read
    EXPECT_EQ(takeWritten(), (Bytes{0x00, 0x01, 0x06, 0x02, 0x02}));
}

TEST_F(ConduitBgCycleTest, ProtocolErrorsPostNotReadyAndFailuresPostFailed) {
    struct Case {
        std::vector<Bytes> chunks;
        const char* line;
        ConduitState state;
    };
    const Case cases[] = {
        {{{0x00, 0x00, 0x0A, 0x00}},
         "BG conduit: unknown message received\n",
         ConduitState::NotReady},
        {{{0x80, 0x00, 0x08, 0x00}},
         "BG conduit: unknown message received\n",
         ConduitState::NotReady},
        {{{0x00, 0x00, 0x00, 0x0F}},
         "BG conduit: unknown message received\n",
         ConduitState::NotReady},
        {{{0x07, 0xFF, 0x00, 0x01}},
         "BG conduit: message of 2047 bytes does not fit",
         ConduitState::NotReady},
        {{{0x80, 0x05, 0x03, 0x04}, {0x01, 0x02}},
         "BG conduit: reading data failed. Error code: 0\n",
         ConduitState::Failed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const std::size_t before = logMark();
        conduit.posted.clear();
        for (const Bytes& chunk : c.chunks) {
            line->pushBytes(chunk);
        }
        EXPECT_EQ(conduit.readCycle(1000), ConduitBg::CycleEnd::Reopen);
        EXPECT_EQ(logCount(before, c.line), 1);
        EXPECT_EQ(conduit.posted, std::vector<Bytes>{status(c.state)});
    }
}

TEST_F(ConduitBgCycleTest, HeaderBytesThatArrivedBeforeATimeoutAreCompletedFirst) {
    const Bytes message = response(3, 1, {0x00, 0xC4}); // connection_get_rssi
    addSession(testAddress(0xF1, 0x01), 0);
    line->pushBytes(Bytes(message.begin(), message.begin() + 2));

    EXPECT_EQ(conduit.readCycle(1000), ConduitBg::CycleEnd::Silent);
    line->pushBytes(Bytes(message.begin() + 2, message.end()));
    EXPECT_EQ(conduit.readCycle(1000), ConduitBg::CycleEnd::Handled);

    EXPECT_EQ(conduit.posted.size(), 1U) << "the stream stayed in step";
}

TEST_F(ConduitBgCycleTest, ClosingReportsLostLinksAndForgetsEverything) {
    addSession(testAddress(0xF1, 0x01), 0);
    conduit.connections[testAddress(0xF2, 0x02)] = 1; // without a session
    ASSERT_TRUE(conduit.startScan());
    writeQueue.push_back(WriteChunk{});
    activeConduit = &conduit;

    conduit.close();

    EXPECT_EQ(
        conduit.posted,
        (std::vector<Bytes>{gobBytes(buildDisconnectedGob, testAddress(0xF1, 0x01), uint8_t{4}),
                            gobBytes(buildDisconnectedGob, testAddress(0xF2, 0x02), uint8_t{4})}));
    EXPECT_TRUE(conduit.connections.empty());
    EXPECT_TRUE(conduit.sessions.empty());
    EXPECT_TRUE(conduit.gapOps.empty());
    EXPECT_TRUE(writeQueue.empty());
    EXPECT_TRUE(conduit.scanWanted) << "still wanted after the reopening";
    EXPECT_FALSE(conduit.ready.load());
    EXPECT_EQ(conduit.getState(), ConduitState::NotReady);
    EXPECT_EQ(activeConduit, nullptr);
    EXPECT_EQ(line->closes(), 1);

    conduit.close();
    EXPECT_EQ(line->closes(), 1) << "a port is closed once";
    EXPECT_EQ(logCount(mark, "BG conduit: closing serial port failed, error: -1\n"), 1);
}

TEST_F(ConduitBgCycleTest, ClosingAfterAFailureKeepsTheFailedState) {
    conduit.state = ConduitState::Failed;
    conduit.close();
    EXPECT_EQ(conduit.getState(), ConduitState::Failed);
}

// A port that returns scripted results, for rounds the shared fake cannot split.
class ScriptedPort : public SerialPort {
public:
    struct Round {
        int result;  // a byte count or a serialRead... code
        Bytes bytes; // when a count
    };
    explicit ScriptedPort(std::deque<Round> rounds) : rounds(std::move(rounds)) {}

    int readSome(uint32_t max, uint8_t* bytes, unsigned /*timeoutMs*/) override {
        if (rounds.empty()) {
            return serialReadEmpty;
        }
        const Round round = rounds.front();
        rounds.pop_front();
        EXPECT_LE(round.bytes.size(), max);
        std::copy(round.bytes.begin(), round.bytes.end(), bytes);
        return round.result;
    }
    int write(uint32_t /*count*/, const uint8_t* /*bytes*/) override { return 0; }
    void cancelRead() override {}
    int close() override { return 0; }

private:
    std::deque<Round> rounds;
};

TEST_F(ConduitBgCycleTest, AKickDuringAHeaderKeepsItsBytesAndAStaleKickSparesThePayload) {
    addSession(testAddress(0xF1, 0x01), 0);
    serialPort = std::make_unique<ScriptedPort>(std::deque<ScriptedPort::Round>{
        {2, {0x00, 0x02}},
        {serialReadCancelled, {}},
        {2, {0x03, 0x01}},
        {serialReadCancelled, {}}, // a kick that found no read pending
        {2, {0x00, 0xC4}},
    });

    EXPECT_EQ(conduit.readCycle(1000), ConduitBg::CycleEnd::Handled);
    EXPECT_TRUE(conduit.posted.empty());
    EXPECT_EQ(conduit.readCycle(1000), ConduitBg::CycleEnd::Handled);

    EXPECT_EQ(conduit.posted,
              std::vector<Bytes>{gobBytes(buildRssiGob, testAddress(0xF1, 0x01), int8_t{-60})});
}

} // namespace
