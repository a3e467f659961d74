// The real program under client pressure: more clients than its descriptor limit allows
// (served up to a cap below the limit, the rest closed at accept, the process idle while
// they wait, the dongle still reopened after an unplug), and a frame left unfinished for
// its 10 seconds.
#include "conduit_e2e_fixture.h"

#include <arpa/inet.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace e2e {
namespace {

// A bare TCP connection to 127.0.0.1:9089; -1 when the connect failed.
int connectRaw() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(gobDefaultPort);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd >= 0 &&
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

enum class Outcome { Greeted, Closed, Nothing };

// What the connection received within `timeout`: a first byte (the GobStatus frame
// begins), an end of stream, or nothing.
Outcome firstOutcome(int fd, std::chrono::milliseconds timeout) {
    pollfd entry{fd, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(timeout.count())) != 1) {
        return Outcome::Nothing;
    }
    unsigned char byte = 0;
    return ::recv(fd, &byte, 1, 0) == 1 ? Outcome::Greeted : Outcome::Closed;
}

// User plus system CPU seconds of process `pid`, from /proc.
double cpuSeconds(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::size_t close = content.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(content.substr(close + 2));
    std::string field;
    double ticks = 0;
    // After the name: state is field 3; utime is 14, stime 15.
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14 || index == 15) {
            ticks += std::stod(field);
        }
    }
    return ticks / double(::sysconf(_SC_CLK_TCK));
}

class ClientBoundsE2e : public ConduitE2e {
protected:
    void TearDown() override {
        for (const int fd : sockets) {
            ::close(fd);
        }
        ConduitE2e::TearDown();
    }

    std::vector<int> sockets;
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
        const int fd = connectRaw();
        ASSERT_GE(fd, 0) << "connection " << i;
        sockets.push_back(fd);
    }
    int greeted = 0;
    int closed = 0;
    for (const int fd : sockets) {
        const Outcome outcome = firstOutcome(fd, 10s);
        greeted += outcome == Outcome::Greeted ? 1 : 0;
        closed += outcome == Outcome::Closed ? 1 : 0;
    }
    EXPECT_EQ(greeted, 32);
    EXPECT_EQ(closed, clients - 32);
    EXPECT_EQ(countLines("mux: client limit of 32 reached, closing new connections"), 1);

    // Nothing to do while the clients wait: the process sleeps (a spinning loop would
    // take the whole second).
    const double before = cpuSeconds(service->id());
    std::this_thread::sleep_for(2s);
    EXPECT_LT(cpuSeconds(service->id()) - before, 0.5);

    EXPECT_EQ(dongle->control("unplug"), "ok\n");
    ASSERT_TRUE(waitLines("BG conduit: couldn't find serial port", 2, 10s));
    EXPECT_EQ(dongle->control("replug"), "ok\n");
    EXPECT_TRUE(waitLines("BG conduit: ready", 2, 30s)) << "the dongle reopened";
    EXPECT_EQ(countLines("mux: client limit of 32 reached, closing new connections"), 1);
}

TEST_F(ClientBoundsE2e, FrameLeftUnfinishedForTenSecondsEndsOnlyThatSession) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    auto other = openClient();
    const int fd = connectRaw();
    ASSERT_GE(fd, 0);
    sockets.push_back(fd);
    ASSERT_EQ(firstOutcome(fd, 10s), Outcome::Greeted);
    // An extended prefix announcing a 2-byte length, and only one of those bytes.
    const unsigned char begun[] = {0x82, 0x10};
    ASSERT_EQ(::send(fd, begun, sizeof begun, MSG_NOSIGNAL), 2);
    const auto sent = std::chrono::steady_clock::now();
    // Whatever else of the greeting is left, then the end of stream.
    unsigned char buffer[64];
    pollfd entry{fd, POLLIN, 0};
    ssize_t received = 1;
    while (received > 0 && ::poll(&entry, 1, 30000) == 1) {
        received = ::recv(fd, buffer, sizeof buffer, 0);
    }
    EXPECT_EQ(received, 0) << "the session ended";
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 9s) << "not before its time";
    EXPECT_NE(logText().find(" failed: frame not completed in time"), std::string::npos);
    EXPECT_TRUE(other->isOpen());
}

} // namespace
} // namespace e2e
