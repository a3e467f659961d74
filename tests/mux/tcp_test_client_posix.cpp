// The Mux's test client and port holder over POSIX sockets.
#include "tcp_test_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

sockaddr_in ipv4(const char* host, int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, host, &address.sin_addr);
    return address;
}

} // namespace

std::unique_ptr<TcpTestClient> TcpTestClient::connectTo(int port, int receiveBuffer) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        return nullptr;
    }
    if (receiveBuffer > 0) {
        setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    const sockaddr_in address = ipv4("127.0.0.1", port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return nullptr;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return std::unique_ptr<TcpTestClient>(new TcpTestClient(fd));
}

std::unique_ptr<TcpTestClient> TcpTestClient::connectWithin(int port,
                                                            std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        auto client = connectTo(port);
        if (client || std::chrono::steady_clock::now() >= deadline) {
            return client;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

TcpTestClient::~TcpTestClient() {
    ::close(socket);
}

bool TcpTestClient::sendBytes(const GobBytes& bytes, bool oneByOne) {
    const std::size_t step = oneByOne ? 1 : bytes.size();
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t size = std::min(step, bytes.size() - at);
        const ssize_t sent = ::send(socket, bytes.data() + at, size, MSG_NOSIGNAL);
        if (sent <= 0) {
            return false;
        }
        at += static_cast<std::size_t>(sent);
        if (oneByOne) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    return true;
}

bool TcpTestClient::sendGob(const GobBytes& gob) {
    return sendBytes(framed(gob));
}

bool TcpTestClient::receiveOnce(std::chrono::milliseconds limit) {
    pollfd entry{socket, POLLIN, 0};
    if (::poll(&entry, 1, static_cast<int>(limit.count())) <= 0) {
        return false;
    }
    uint8_t buffer[65536];
    const ssize_t count = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
    if (count <= 0) {
        peerClosed = true;
        return false;
    }
    parser.feed(buffer, static_cast<std::size_t>(count));
    Gob gob;
    while (parser.next(gob) == GobFrameStatus::Gob) {
        received.emplace_back(gob.storage(), gob.storage() + gob.size());
    }
    return true;
}

void TcpTestClient::poll() {
    while (!peerClosed && receiveOnce(std::chrono::milliseconds(0))) {
    }
}

const std::vector<GobBytes>& TcpTestClient::receiveGobs(std::size_t count,
                                                        std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (received.size() < count && !peerClosed && std::chrono::steady_clock::now() < deadline) {
        receiveOnce(std::chrono::milliseconds(10));
    }
    return received;
}

bool TcpTestClient::waitClosed(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!peerClosed && std::chrono::steady_clock::now() < deadline) {
        receiveOnce(std::chrono::milliseconds(10));
    }
    return peerClosed;
}

PortHolder::PortHolder(int port) {
    socket = ::socket(AF_INET, SOCK_STREAM, 0);
    // Like the service, so that connections of earlier tests waiting out their close do
    // not keep the port.
    const int one = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in address = ipv4("0.0.0.0", port);
    if (::bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(socket, 1) != 0) {
        release();
    }
}

PortHolder::~PortHolder() {
    release();
}

void PortHolder::release() {
    if (socket >= 0) {
        ::close(socket);
        socket = -1;
    }
}

GobBytes framed(const GobBytes& gob) {
    uint8_t prefix[gobPrefixMaxSize];
    const uint32_t size = encodeGobPrefix(static_cast<uint32_t>(gob.size()), prefix);
    GobBytes bytes(prefix, prefix + size);
    bytes.insert(bytes.end(), gob.begin(), gob.end());
    return bytes;
}
