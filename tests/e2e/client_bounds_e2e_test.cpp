// The real program under client pressure: more clients than its descriptor limit allows
// (served up to a cap below the limit, the rest closed at accept, the process idle while
// they wait, the dongle still reopened after an unplug), and a frame left unfinished for
// its 10 seconds.
#include "conduit_e2e_fixture.h"

#include "gob_socket.h"

#include <memory>

namespace e2e {
namespace {

enum class Outcome { Greeted, Closed, Nothing };

// What the connection received within `timeout`: a first gob (the GobStatus), an end of
// stream, or nothing.
Outcome firstOutcome(GobSocket& socket, std::chrono::milliseconds timeout) {
    if (socket.waitGob(timeout)) {
        return Outcome::Greeted;
    }
    return socket.waitClosed(0ms) ? Outcome::Closed : Outcome::Nothing;
}

class ClientBoundsE2e : public ConduitE2e {
protected:
    // A bare connection to the service, kept until the test ends.
    GobSocket& connectRaw() {
        sockets.push_back(std::make_unique<GobSocket>());
        EXPECT_TRUE(sockets.back()->open(linkrelay::Client::defaultPort, 5s));
        return *sockets.back();
    }

    std::vector<std::unique_ptr<GobSocket>> sockets;
};

TEST_F(ClientBoundsE2e, MoreClientsThanDescriptorsLeaveTheServiceIdleAndTheDongleReopens) {
    ASSERT_NO_FATAL_FAILURE(startDongle());
    ASSERT_NO_FATAL_FAILURE(startService(64));
    ASSERT_TRUE(waitLines("BG conduit: ready", 1, 30s));
    ASSERT_TRUE(waitLines("mux: inited", 1, 10s));
    EXPECT_EQ(countLines("limits: descriptor limit 64 (already the hard limit)"), 1);
    EXPECT_EQ(countLines("mux: at most 32 clients (descriptor limit 64)"), 1);

    constexpr int clients = 100;
    for (int i = 0; i < clients; ++i) {
        ASSERT_GE(connectRaw().fd(), 0) << "connection " << i;
    }
    int greeted = 0;
    int closed = 0;
    for (const auto& socket : sockets) {
        const Outcome outcome = firstOutcome(*socket, 10s);
        greeted += outcome == Outcome::Greeted ? 1 : 0;
        closed += outcome == Outcome::Closed ? 1 : 0;
    }
    EXPECT_EQ(greeted, 32);
    EXPECT_EQ(closed, clients - 32);
    EXPECT_EQ(countLines("mux: client limit of 32 reached, closing new connections"), 1);

    // Nothing to do while the clients wait: the process sleeps (a spinning loop would
    // take the whole second).
    const double before = harness::cpuSecondsOf(service->id());
    std::this_thread::sleep_for(2s);
    EXPECT_LT(harness::cpuSecondsOf(service->id()) - before, 0.5);

    EXPECT_EQ(dongle->control("unplug"), "ok\n");
    ASSERT_TRUE(waitLines("BG conduit: couldn't find serial port", 2, 10s));
    EXPECT_EQ(dongle->control("replug"), "ok\n");
    EXPECT_TRUE(waitLines("BG conduit: ready", 2, 30s)) << "the dongle reopened";
    EXPECT_EQ(countLines("mux: client limit of 32 reached, closing new connections"), 1);
}

TEST_F(ClientBoundsE2e, FrameLeftUnfinishedForTenSecondsEndsOnlyThatSession) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    auto other = openClient();
    GobSocket& raw = connectRaw();
    ASSERT_EQ(firstOutcome(raw, 10s), Outcome::Greeted);
    // An extended prefix announcing a 2-byte length, and only one of those bytes.
    const std::vector<uint8_t> begun{0x82, 0x10};
    ASSERT_TRUE(raw.sendBytes(begun));
    const auto sent = std::chrono::steady_clock::now();
    EXPECT_TRUE(raw.waitClosed(30s)) << "the session ended";
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 9s) << "not before its time";
    EXPECT_NE(logText().find(" failed: frame not completed in time"), std::string::npos);
    EXPECT_TRUE(other->isOpen());
}

} // namespace
} // namespace e2e
