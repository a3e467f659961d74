// The bare TCP client of the benchmarks and tests. See gob_socket.h.
#include "gob_socket.h"

#include "gob/gob_events.h"
#include "gob/gob_requests.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int sendWaitMs = 100;

sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool waitWritable(int fd, int timeoutMs) {
    pollfd entry{fd, POLLOUT, 0};
    return ::poll(&entry, 1, timeoutMs) == 1 && (entry.revents & POLLOUT) != 0;
}

bool connectedOk(int fd) {
    int error = 0;
    socklen_t size = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

// A request that names a device and a characteristic by its index (read, notify).
Gob characteristicRequest(int (*code)(Gob&, BleAddress&, uint8_t&), BleAddress address,
                          uint8_t index) {
    Gob gob;
    code(gob, address, index);
    return gob;
}

} // namespace

GobSocket::~GobSocket() {
    close();
}

bool GobSocket::begin(uint16_t port, int receiveBuffer) {
    close();
    socketFd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (socketFd < 0) {
        return false;
    }
    if (receiveBuffer > 0) {
        ::setsockopt(socketFd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    }
    const int one = 1;
    ::setsockopt(socketFd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    const sockaddr_in address = loopback(port);
    const int result =
        ::connect(socketFd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    return result == 0 || errno == EINPROGRESS;
}

bool GobSocket::open(uint16_t port, std::chrono::milliseconds timeout, int receiveBuffer) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        if (begin(port, receiveBuffer) && waitWritable(socketFd, 1000) && connectedOk(socketFd)) {
            return true;
        }
        close();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

void GobSocket::close() {
    if (socketFd >= 0) {
        ::close(socketFd);
        socketFd = -1;
    }
    peerClosed = false;
    parser = GobFrameParser{};
}

bool GobSocket::send(const Gob& gob) {
    return sendBytes(framer.frame(gob));
}

bool GobSocket::sendContent(std::span<const uint8_t> content) {
    std::vector<uint8_t> frame(gobPrefixMaxSize);
    frame.resize(encodeGobPrefix(static_cast<uint32_t>(content.size()), frame.data()));
    frame.insert(frame.end(), content.begin(), content.end());
    return sendBytes(frame);
}

bool GobSocket::sendBytes(std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t sent =
            ::send(socketFd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent > 0) {
            done += static_cast<size_t>(sent);
        } else if (sent < 0 && (errno == EAGAIN || errno == EINTR)) {
            waitWritable(socketFd, sendWaitMs);
        } else {
            return false;
        }
    }
    return true;
}

bool GobSocket::sendConnect(const BleAddress& address) {
    Gob gob;
    BleAddress target = address;
    // The shortest interval (7.5 ms), so that the simulated link answers reads quickly.
    uint32_t intervalMin = 6;
    uint32_t intervalMax = 12;
    uint32_t timeout = 200;
    uint32_t latency = 0;
    codeGobConnect(gob, target, intervalMin, intervalMax, timeout, latency);
    return send(gob);
}

bool GobSocket::sendStartScan() {
    Gob gob;
    codeGobStartScan(gob);
    return send(gob);
}

bool GobSocket::sendRead(const BleAddress& address, uint8_t index) {
    return send(characteristicRequest(codeGobRead, address, index));
}

bool GobSocket::sendFindAttributes(const BleAddress& address, const UuidRecord& uuid) {
    Gob gob;
    BleAddress target = address;
    std::vector<UuidRecord> uuids{uuid};
    codeGobFindAttributes(gob, target, uuids);
    return send(gob);
}

bool GobSocket::sendNotify(const BleAddress& address, uint8_t index) {
    return send(characteristicRequest(codeGobNotify, address, index));
}

void GobSocket::adopt(int fd) {
    close();
    socketFd = fd;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
}

bool GobSocket::pump() {
    for (;;) {
        const ssize_t got = ::recv(socketFd, chunk.data(), chunk.size(), 0);
        if (got > 0) {
            parser.feed(chunk.data(), static_cast<size_t>(got));
            continue;
        }
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
            return true;
        }
        peerClosed = true;
        return false;
    }
}

std::optional<Gob> GobSocket::next() {
    Gob gob;
    if (parser.next(gob) == GobFrameStatus::Gob) {
        return gob;
    }
    return std::nullopt;
}

std::optional<Gob> GobSocket::waitGob(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (std::optional<Gob> gob = next()) {
            return gob;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        pollfd entry{socketFd, POLLIN, 0};
        ::poll(&entry, 1, static_cast<int>(left.count()) + 1);
        if (!pump()) {
            return next();
        }
    }
}

std::optional<Gob> GobSocket::waitType(uint8_t type, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        std::optional<Gob> gob = waitGob(std::max(left, std::chrono::milliseconds(0)));
        if (!gob || gobType(*gob) == type) {
            return gob;
        }
    }
}

bool GobSocket::waitClosed(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!peerClosed) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (!waitGob(std::max(left, std::chrono::milliseconds(0))) && left.count() <= 0) {
            break;
        }
    }
    return peerClosed;
}

uint8_t gobType(const Gob& gob) {
    return gob.size() == 0 ? 255 : gob.storage()[0];
}

std::optional<uint64_t> payloadNumber(const Gob& gob) {
    // Attribute value: type, address 6, index, length, value. Scan result: type, address
    // 6, length, data, rssi.
    uint32_t offset = 0;
    if (gobType(gob) == GobAttributeValue) {
        offset = 9;
    } else if (gobType(gob) == GobScanResult) {
        offset = 8;
    } else {
        return std::nullopt;
    }
    if (gob.size() < offset + 8) {
        return std::nullopt;
    }
    uint64_t number = 0;
    for (uint32_t i = 0; i < 8; ++i) {
        number |= uint64_t{gob.storage()[offset + i]} << (8 * i);
    }
    return number;
}
