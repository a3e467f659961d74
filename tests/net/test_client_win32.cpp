// The tests' TCP client on Windows: Winsock, blocking connect, then non-blocking.
#include "test_client.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace {

SOCKET native(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

} // namespace

TestClient::TestClient(int port) {
    const SOCKET handle = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (handle == INVALID_SOCKET ||
        ::connect(handle, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        if (handle != INVALID_SOCKET) {
            ::closesocket(handle);
        }
        return;
    }
    u_long nonBlocking = 1;
    ::ioctlsocket(handle, FIONBIO, &nonBlocking);
    socket = static_cast<SocketHandle>(handle);
}

TestClient::~TestClient() {
    close();
}

bool TestClient::sendAll(const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const int count =
            ::send(native(socket), bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
        if (count > 0) {
            sent += static_cast<std::size_t>(count);
        } else if (count == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK) {
            fd_set writable;
            FD_ZERO(&writable);
            FD_SET(native(socket), &writable);
            timeval limit{0, 100000};
            ::select(1, nullptr, &writable, nullptr, &limit);
        } else {
            return false;
        }
    }
    return true;
}

void TestClient::collect() {
    char buffer[65536];
    while (socket != noSocket && !peerClosed) {
        const int count = ::recv(native(socket), buffer, sizeof buffer, 0);
        if (count > 0) {
            received.append(buffer, static_cast<std::size_t>(count));
        } else if (count == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK) {
            return;
        } else {
            peerClosed = true;
        }
    }
}

void TestClient::close() {
    if (socket != noSocket) {
        ::closesocket(native(socket));
        socket = noSocket;
    }
}

void TestClient::reset() {
    const linger abort{1, 0};
    ::setsockopt(native(socket), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort),
                 sizeof abort);
    close();
}

int TestClient::localPort() const {
    return socketLocalPort(socket);
}

void TestClient::setReceiveBuffer(int bytes) {
    ::setsockopt(native(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
                 sizeof bytes);
}

void setSendBuffer(SocketHandle socket, int bytes) {
    ::setsockopt(native(socket), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&bytes),
                 sizeof bytes);
}

void setReceiveBuffer(SocketHandle socket, int bytes) {
    ::setsockopt(native(socket), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&bytes),
                 sizeof bytes);
}

int peerPort(SocketHandle socket) {
    sockaddr_in address{};
    int length = sizeof address;
    if (::getpeername(native(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return -1;
    }
    return ntohs(address.sin_port);
}

int openHandleCount() {
    DWORD count = 0;
    ::GetProcessHandleCount(::GetCurrentProcess(), &count);
    return static_cast<int>(count);
}
