// The client socket seam on Windows: Winsock 2.2. Each connected socket holds one
// WSAStartup, released by clientSocketClose (Winsock counts them). The connect runs
// non-blocking under select() so that it can time out; afterwards the socket blocks, and
// receives wait in select() for their timeout.
//
// Threads: see client_socket.h; the functions keep no state of their own.
#include "linkrelay/client_socket.h"

#include <algorithm>
#include <string>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace linkrelay {

namespace {

std::string errorText(int error) {
    return "Winsock error " + std::to_string(error);
}

timeval timevalOf(std::chrono::milliseconds timeout) {
    const long long milliseconds = std::max<long long>(0, timeout.count());
    timeval value{};
    value.tv_sec = static_cast<long>(milliseconds / 1000);
    value.tv_usec = static_cast<long>((milliseconds % 1000) * 1000);
    return value;
}

void setBlocking(SOCKET socket, bool blocking) {
    u_long nonBlocking = blocking ? 0 : 1;
    ::ioctlsocket(socket, FIONBIO, &nonBlocking);
}

ClientConnectResult connectFailure(ClientConnectOutcome outcome, int error, SOCKET socket) {
    ::closesocket(socket);
    return {noClientSocket, outcome, errorText(error)};
}

int pendingError(SOCKET socket) {
    int error = 0;
    int size = sizeof error;
    ::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
    return error;
}

// Waits until a non-blocking connect ends; 0 or the error that ended it, WSAETIMEDOUT
// when it did not end in time.
int awaitConnect(SOCKET socket, std::chrono::milliseconds timeout) {
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(socket, &writable);
    FD_SET(socket, &failed);
    timeval limit = timevalOf(timeout);
    if (::select(0, nullptr, &writable, &failed, &limit) <= 0) {
        return WSAETIMEDOUT;
    }
    return FD_ISSET(socket, &failed) ? pendingError(socket) : 0;
}

ClientConnectResult connectOne(const addrinfo& address, std::chrono::milliseconds timeout) {
    const SOCKET socket = ::socket(address.ai_family, address.ai_socktype, address.ai_protocol);
    if (socket == INVALID_SOCKET) {
        return {noClientSocket, ClientConnectOutcome::Failed, errorText(::WSAGetLastError())};
    }
    setBlocking(socket, false);
    int error = 0;
    if (::connect(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0) {
        error = ::WSAGetLastError();
        if (error == WSAEWOULDBLOCK) {
            error = awaitConnect(socket, timeout);
        }
    }
    if (error == WSAETIMEDOUT) {
        return connectFailure(ClientConnectOutcome::TimedOut, error, socket);
    }
    if (error == WSAECONNREFUSED) {
        return connectFailure(ClientConnectOutcome::Refused, error, socket);
    }
    if (error != 0) {
        return connectFailure(ClientConnectOutcome::Failed, error, socket);
    }
    setBlocking(socket, true);
    return {static_cast<ClientSocketHandle>(socket), ClientConnectOutcome::Connected, {}};
}

bool isClosedError(int error) {
    return error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAESHUTDOWN;
}

} // namespace

ClientConnectResult clientSocketConnect(const std::string& host, const std::string& port,
                                        std::chrono::milliseconds timeout) {
    WSADATA data{};
    const int started = ::WSAStartup(MAKEWORD(2, 2), &data);
    if (started != 0) {
        return {noClientSocket, ClientConnectOutcome::Failed, errorText(started)};
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    const int resolved = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &addresses);
    if (resolved != 0) {
        ::WSACleanup();
        return {noClientSocket, ClientConnectOutcome::Failed, errorText(resolved)};
    }
    ClientConnectResult result{noClientSocket, ClientConnectOutcome::Failed, "no address"};
    for (const addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
        result = connectOne(*address, timeout);
        if (result.outcome == ClientConnectOutcome::Connected) {
            break;
        }
    }
    ::freeaddrinfo(addresses);
    if (result.outcome != ClientConnectOutcome::Connected) {
        ::WSACleanup();
    }
    return result;
}

ClientIoResult clientSocketReceive(ClientSocketHandle socket, uint8_t* buffer, std::size_t size,
                                   std::chrono::milliseconds timeout) {
    const auto native = static_cast<SOCKET>(socket);
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(native, &readable);
    timeval limit = timevalOf(timeout);
    const int ready = ::select(0, &readable, nullptr, nullptr, &limit);
    if (ready == 0) {
        return {ClientIoOutcome::TimedOut, 0, {}};
    }
    if (ready < 0) {
        return {ClientIoOutcome::Failed, 0, errorText(::WSAGetLastError())};
    }
    const int count = ::recv(native, reinterpret_cast<char*>(buffer),
                             static_cast<int>(std::min<std::size_t>(size, 1 << 20)), 0);
    if (count > 0) {
        return {ClientIoOutcome::Done, static_cast<std::size_t>(count), {}};
    }
    const int error = count == 0 ? 0 : ::WSAGetLastError();
    if (count == 0 || isClosedError(error)) {
        return {ClientIoOutcome::Closed, 0, {}};
    }
    return {ClientIoOutcome::Failed, 0, errorText(error)};
}

ClientIoResult clientSocketSendAll(ClientSocketHandle socket, const uint8_t* data,
                                   std::size_t size) {
    std::size_t sent = 0;
    while (sent < size) {
        const int count =
            ::send(static_cast<SOCKET>(socket), reinterpret_cast<const char*>(data + sent),
                   static_cast<int>(std::min<std::size_t>(size - sent, 1 << 20)), 0);
        if (count == SOCKET_ERROR) {
            const int error = ::WSAGetLastError();
            if (isClosedError(error)) {
                return {ClientIoOutcome::Closed, sent, {}};
            }
            return {ClientIoOutcome::Failed, sent, errorText(error)};
        }
        sent += static_cast<std::size_t>(count);
    }
    return {ClientIoOutcome::Done, sent, {}};
}

void clientSocketClose(ClientSocketHandle socket) {
    ::closesocket(static_cast<SOCKET>(socket));
    ::WSACleanup();
}

} // namespace linkrelay
