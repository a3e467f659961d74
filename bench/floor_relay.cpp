// The bare pty and TCP relay. See floor_relay.h.
#include "floor_relay.h"

#include "bench_clock.h"
#include "gob/gob_events.h"
#include "gob/gob_requests.h"
#include "tcp_floor.h"
#include "windowed_feed.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr BleAddress relayAddress{{0x01, 0x0E, 0x0D, 0x0C, 0x0B, 0x0A}};
constexpr size_t headerSize = 4;

size_t packetLength(const std::vector<uint8_t>& bytes, size_t at) {
    return headerSize + (size_t(bytes[at] & 0x07) << 8 | bytes[at + 1]);
}

bool writeAll(int fd, const uint8_t* bytes, size_t count) {
    size_t done = 0;
    while (done < count) {
        const ssize_t written = ::write(fd, bytes + done, count - done);
        if (written > 0) {
            done += static_cast<size_t>(written);
        } else if (written < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
    }
    return true;
}

// The relay child's state: the pty, its connections and the bytes in transit.
struct Relay {
    int tty = -1;
    std::vector<std::unique_ptr<GobSocket>> links;
    std::vector<uint8_t> fromTty;
    GobFramer framer;

    // Sends each complete attribute-value packet on as a frame to every link.
    void forwardPackets() {
        size_t at = 0;
        while (fromTty.size() - at >= headerSize &&
               fromTty.size() - at >= packetLength(fromTty, at)) {
            const size_t length = packetLength(fromTty, at);
            // Event 4/5: connection 1, handle 2, type 1, value length 1, value.
            if (fromTty[at] == 0x80 && fromTty[at + 2] == 4 && fromTty[at + 3] == 5 &&
                length >= 9) {
                Gob gob;
                buildAttributeValueGob(gob, relayAddress, 0, &fromTty[at + 9], fromTty[at + 8]);
                const std::span<const uint8_t> frame = framer.frame(gob);
                for (auto& link : links) {
                    writeAll(link->fd(), frame.data(), frame.size());
                }
            }
            at += length;
        }
        fromTty.erase(fromTty.begin(), fromTty.begin() + static_cast<long>(at));
    }

    // Turns each GobRead from a link into a read_by_handle packet on the pty.
    bool forwardRequests(GobSocket& link) {
        const bool open = link.pump();
        while (std::optional<Gob> gob = link.next()) {
            BleAddress address;
            uint8_t index = 0;
            if (codeGobRead(*gob, address, index) == 0) {
                const uint8_t packet[] = {0x00, 0x03, 0x04, 0x04, 0x00, 0x03, 0x00};
                writeAll(tty, packet, sizeof packet);
            }
        }
        return open;
    }
};

} // namespace

std::vector<uint8_t> notificationPacket(uint64_t number) {
    std::vector<uint8_t> packet{0x80, 13, 0x04, 0x05, 0x00, 0x03, 0x00, 0x01, 8};
    packet.resize(packet.size() + 8);
    putNumber(number, packet.data() + 9);
    return packet;
}

int runFloorRelay(const std::string& link, uint16_t port, int clients) {
    Relay relay;
    relay.tty = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (relay.tty < 0) {
        return 1;
    }
    for (int i = 0; i < clients; ++i) {
        auto socket = std::make_unique<GobSocket>();
        if (!socket->open(port, 5s)) {
            return 1;
        }
        relay.links.push_back(std::move(socket));
    }
    std::vector<uint8_t> chunk(65536);
    std::vector<pollfd> fds{{relay.tty, POLLIN, 0}};
    for (auto& socket : relay.links) {
        fds.push_back({socket->fd(), POLLIN, 0});
    }
    for (;;) {
        ::poll(fds.data(), fds.size(), 1000);
        if ((fds[0].revents & (POLLHUP | POLLERR)) != 0) {
            return 0;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            const ssize_t got = ::read(relay.tty, chunk.data(), chunk.size());
            if (got <= 0 && errno != EAGAIN && errno != EINTR) {
                return 0;
            }
            if (got > 0) {
                relay.fromTty.insert(relay.fromTty.end(), chunk.begin(), chunk.begin() + got);
                relay.forwardPackets();
            }
        }
        for (size_t i = 1; i < fds.size(); ++i) {
            if (fds[i].revents != 0 && !relay.forwardRequests(*relay.links[i - 1])) {
                return 0;
            }
        }
    }
}

FloorRelay::FloorRelay(const std::string& folder, int clients) : pty(folder + "/floor.tty") {
    std::string error;
    uint16_t port = 0;
    const int listener = listenLoopback(port);
    if (!pty.attach(error) || listener < 0) {
        return;
    }
    std::string self = "/proc/self/exe";
    std::vector<std::string> argv{self, "--floor-relay", pty.linkPath(), std::to_string(port),
                                  std::to_string(clients)};
    std::vector<char*> pointers;
    pointers.reserve(argv.size() + 1);
    for (std::string& text : argv) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    if (::posix_spawn(&child, self.c_str(), nullptr, nullptr, pointers.data(), environ) != 0) {
        child = -1;
        ::close(listener);
        return;
    }
    for (int i = 0; i < clients; ++i) {
        const int fd = acceptOne(listener);
        if (fd < 0) {
            break;
        }
        auto socket = std::make_unique<GobSocket>();
        socket->adopt(fd);
        sockets.push_back(std::move(socket));
    }
    ::close(listener);
    up = static_cast<int>(sockets.size()) == clients;
}

FloorRelay::~FloorRelay() {
    sockets.clear();
    pty.detach();
    if (child > 0) {
        for (int waited = 0; waited < 200; ++waited) {
            if (::waitpid(child, nullptr, WNOHANG) == child) {
                return;
            }
            std::this_thread::sleep_for(10ms);
        }
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
}

bool FloorRelay::writeNotification(uint64_t number) {
    const std::vector<uint8_t> packet = notificationPacket(number);
    return pty.write(packet) == 0;
}

std::optional<int64_t> FloorRelay::awaitRead(std::chrono::milliseconds timeout) {
    pollfd entry{pty.masterFd(), POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(timeout.count())) != 1) {
        return std::nullopt;
    }
    uint8_t buffer[256];
    const long got = pty.read(buffer, sizeof buffer);
    const int64_t arrived = nowNs();
    if (got >= 4 && buffer[0] == 0x00 && buffer[2] == 4 && buffer[3] == 4) {
        return arrived;
    }
    return std::nullopt;
}
