// The Mux's test client over the tests' GobSocket, and the port holder over POSIX sockets.
#include "tcp_test_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

std::unique_ptr<TcpTestClient> TcpTestClient::connectTo(int port, int receiveBuffer) {
    auto client = std::make_unique<TcpTestClient>();
    if (!client->socket.open(static_cast<uint16_t>(port), std::chrono::seconds(5), receiveBuffer)) {
        return nullptr;
    }
    return client;
}

bool TcpTestClient::sendBytes(const GobBytes& bytes, bool oneByOne) {
    if (!oneByOne) {
        return socket.sendBytes(bytes);
    }
    for (const uint8_t byte : bytes) {
        if (!socket.sendBytes(std::span<const uint8_t>(&byte, 1))) {
            return false;
        }
        // Apart, so that each byte goes in a segment of its own.
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

bool TcpTestClient::sendGob(const GobBytes& gob) {
    return socket.sendContent(gob);
}

bool TcpTestClient::receiveOne(std::chrono::steady_clock::time_point limit) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        limit - std::chrono::steady_clock::now());
    const std::optional<Gob> gob = socket.waitGob(std::max(left, std::chrono::milliseconds(0)));
    if (!gob) {
        return false;
    }
    received.emplace_back(gob->storage(), gob->storage() + gob->size());
    return true;
}

const std::vector<GobBytes>& TcpTestClient::receiveGobs(std::size_t count,
                                                        std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (received.size() < count && receiveOne(deadline)) {
    }
    return received;
}

bool TcpTestClient::waitClosed(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!socket.closed() && receiveOne(deadline)) {
    }
    return socket.closed();
}

namespace {

sockaddr_in anyIpv4(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    return address;
}

} // namespace

PortHolder::PortHolder(int port) {
    socket = ::socket(AF_INET, SOCK_STREAM, 0);
    // Like the service, so that connections of earlier tests waiting out their close do
    // not keep the port.
    const int one = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in address = anyIpv4(port);
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
