// The bare TCP throughput floor. See tcp_floor.h.
#include "tcp_floor.h"

#include "gob/gob_events.h"
#include "windowed_feed.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr BleAddress floorAddress{{0x11, 0x22, 0x33, 0x44, 0x55, 0x66}};

bool sendAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent > 0) {
            done += static_cast<size_t>(sent);
        } else if (sent < 0 && errno == EINTR) {
            continue;
        } else {
            return false;
        }
    }
    return true;
}

// The frames of events [first, end), as the service would write them.
std::vector<uint8_t> frames(uint64_t first, uint64_t end) {
    std::vector<uint8_t> bytes;
    GobFramer framer;
    for (uint64_t number = first; number < end; ++number) {
        uint8_t value[8];
        putNumber(number, value);
        Gob gob;
        buildAttributeValueGob(gob, floorAddress, 0, value, sizeof value);
        const std::span<const uint8_t> frame = framer.frame(gob);
        bytes.insert(bytes.end(), frame.begin(), frame.end());
    }
    return bytes;
}

} // namespace

int listenLoopback(uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(fd, 1024) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

int acceptOne(int listener) {
    pollfd entry{listener, POLLIN, 0};
    if (::poll(&entry, 1, 5000) != 1) {
        return -1;
    }
    const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
        const int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    return fd;
}

ReceiveOutcome bareTcpThroughput(int clients, uint64_t count, uint64_t window) {
    uint16_t port = 0;
    const int listener = listenLoopback(port);
    std::vector<std::unique_ptr<GobSocket>> sockets;
    std::vector<int> accepted;
    for (int i = 0; i < clients && listener >= 0; ++i) {
        auto socket = std::make_unique<GobSocket>();
        if (!socket->open(port, std::chrono::seconds(5))) {
            break;
        }
        accepted.push_back(acceptOne(listener));
        sockets.push_back(std::move(socket));
    }
    if (listener >= 0) {
        ::close(listener);
    }
    std::vector<GobSocket*> views;
    views.reserve(sockets.size());
    for (auto& socket : sockets) {
        views.push_back(socket.get());
    }
    OrderedReceiver receiver(views, GobAttributeValue);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::thread writer([&] {
        feedWindowed(receiver, count, window, 64, deadline, [&](uint64_t first, uint64_t end) {
            const std::vector<uint8_t> bytes = frames(first, end);
            for (const int fd : accepted) {
                sendAll(fd, bytes);
            }
        });
    });
    ReceiveOutcome outcome = receiver.run(count, std::chrono::seconds(60));
    writer.join();
    for (const int fd : accepted) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    if (static_cast<int>(sockets.size()) != clients) {
        outcome.complete = false;
    }
    return outcome;
}
