// The tests' TCP client on Linux: BSD sockets, blocking connect, then non-blocking.
#include "test_client.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

TestClient::TestClient(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd == -1 ||
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (fd != -1) {
            ::close(fd);
        }
        return;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    socket = fd;
}

TestClient::~TestClient() {
    close();
}

bool TestClient::sendAll(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t count = ::send(static_cast<int>(socket), bytes.data() + sent,
                                     bytes.size() - sent, MSG_NOSIGNAL);
        if (count > 0) {
            sent += static_cast<std::size_t>(count);
        } else if (count < 0 && errno == EAGAIN) {
            pollfd entry{static_cast<int>(socket), POLLOUT, 0};
            ::poll(&entry, 1, 100);
        } else {
            return false;
        }
    }
    return true;
}

void TestClient::collect() {
    char buffer[65536];
    while (socket != noSocket && !peerClosed) {
        const ssize_t count = ::recv(static_cast<int>(socket), buffer, sizeof buffer, 0);
        if (count > 0) {
            received.append(buffer, static_cast<std::size_t>(count));
        } else if (count < 0 && errno == EAGAIN) {
            return;
        } else {
            peerClosed = true;
        }
    }
}

void TestClient::close() {
    if (socket != noSocket) {
        ::close(static_cast<int>(socket));
        socket = noSocket;
    }
}

void TestClient::reset() {
    const linger abort{1, 0};
    ::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    close();
}

int TestClient::localPort() const {
    return socketLocalPort(socket);
}

void TestClient::setReceiveBuffer(int bytes) {
    ::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

void setSendBuffer(SocketHandle socket, int bytes) {
    ::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_SNDBUF, &bytes, sizeof bytes);
}

void setReceiveBuffer(SocketHandle socket, int bytes) {
    ::setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
}

int peerPort(SocketHandle socket) {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getpeername(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), &length) !=
        0) {
        return -1;
    }
    return ntohs(address.sin_port);
}

int openHandleCount() {
    int count = 0;
    std::error_code error;
    for (auto entry = std::filesystem::directory_iterator("/proc/self/fd", error);
         !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        ++count;
    }
    // The iterator's own descriptor was open while counting.
    return count - 1;
}
