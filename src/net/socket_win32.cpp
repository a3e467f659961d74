// The socket seam on Windows: Winsock 2.2, started and stopped with WSAStartup and
// WSACleanup. Sockets are put in non-blocking mode with ioctlsocket(FIONBIO); no socket
// option is set. WSAEMFILE and WSAENOBUFS count as exhaustion; sockets have no
// per-process limit of the kind RLIMIT_NOFILE sets. Error numbers are WSAGetLastError() values,
// read at once after the call that failed; the C runtime has no text for them, so socketErrorText
// gives its "Unknown error".
//
// Threads: called from the thread that owns the stream layer only.
#include "net/socket.h"

#include <climits>
#include <cstring>
#include <string>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace {

SOCKET native(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

SocketHandle handle(SOCKET socket) {
    return socket == INVALID_SOCKET ? noSocket : static_cast<SocketHandle>(socket);
}

int startup() {
    WSADATA data{};
    return ::WSAStartup(MAKEWORD(2, 2), &data);
}

void cleanup() {
    ::WSACleanup();
}

SocketResult failure(int error) {
    if (error == WSAEWOULDBLOCK) {
        return {SocketStatus::WouldBlock, -1, error};
    }
    const bool exhausted = error == WSAEMFILE || error == WSAENOBUFS;
    return {exhausted ? SocketStatus::Exhausted : SocketStatus::Failed, -1, error};
}

void setNonBlocking(SOCKET socket) {
    u_long nonBlocking = 1;
    ::ioctlsocket(socket, FIONBIO, &nonBlocking);
}

ListenResult listenFailure(ListenFailure step, int error, SOCKET socket) {
    if (socket != INVALID_SOCKET) {
        ::closesocket(socket);
    }
    return {noSocket, step, error};
}

ListenResult openListener(const addrinfo& address, int backlog) {
    const SOCKET socket = ::socket(address.ai_family, address.ai_socktype, address.ai_protocol);
    if (socket == INVALID_SOCKET) {
        return listenFailure(ListenFailure::Create, ::WSAGetLastError(), socket);
    }
    setNonBlocking(socket);
    if (::bind(socket, address.ai_addr, static_cast<int>(address.ai_addrlen)) != 0) {
        return listenFailure(ListenFailure::Bind, ::WSAGetLastError(), socket);
    }
    if (::listen(socket, backlog) != 0) {
        return listenFailure(ListenFailure::Listen, ::WSAGetLastError(), socket);
    }
    return {handle(socket), ListenFailure::None, 0};
}

ListenResult listenOn(const char* host, const char* port, int backlog) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* addresses = nullptr;
    if (::getaddrinfo(host, port, &hints, &addresses) != 0) {
        return listenFailure(ListenFailure::Resolve, ::WSAGetLastError(), INVALID_SOCKET);
    }
    const ListenResult result = openListener(*addresses, backlog);
    ::freeaddrinfo(addresses);
    return result;
}

SocketResult acceptOne(SocketHandle listening) {
    const SOCKET socket = ::accept(native(listening), nullptr, nullptr);
    if (socket == INVALID_SOCKET) {
        return failure(::WSAGetLastError());
    }
    setNonBlocking(socket);
    return {SocketStatus::Done, handle(socket), 0};
}

int clampedSize(std::size_t size) {
    constexpr std::size_t largest = 1U << 30U;
    return static_cast<int>(size < largest ? size : largest);
}

SocketResult receiveSome(SocketHandle socket, char* buffer, std::size_t size) {
    const int count = ::recv(native(socket), buffer, clampedSize(size), 0);
    if (count == SOCKET_ERROR) {
        return failure(::WSAGetLastError());
    }
    return {SocketStatus::Done, count, 0};
}

SocketResult sendSome(SocketHandle socket, const char* data, std::size_t size) {
    const int count = ::send(native(socket), data, clampedSize(size), 0);
    if (count == SOCKET_ERROR) {
        return failure(::WSAGetLastError());
    }
    return {SocketStatus::Done, count, 0};
}

void closeSocket(SocketHandle socket) {
    ::closesocket(native(socket));
}

} // namespace

SocketCalls& socketCalls() {
    static SocketCalls calls{startup,     cleanup,  listenOn,   acceptOne,
                             receiveSome, sendSome, closeSocket};
    return calls;
}

std::string socketErrorText(int error) {
    return std::strerror(error);
}

int socketLocalPort(SocketHandle socket) {
    sockaddr_storage address{};
    int length = sizeof address;
    if (::getsockname(native(socket), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return -1;
    }
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    }
    return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

int socketDescriptorLimit() {
    return INT_MAX;
}

bool socketResolveIpv4(const std::string& host, std::string& address, std::string& error) {
    if (const int started = startup(); started != 0) {
        error = "WSAStartup failed (" + std::to_string(started) + ")";
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    const int resolved = ::getaddrinfo(host.c_str(), nullptr, &hints, &addresses);
    if (resolved == 0) {
        char text[INET_ADDRSTRLEN] = {};
        auto* ipv4 = reinterpret_cast<sockaddr_in*>(addresses->ai_addr);
        ::inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text);
        ::freeaddrinfo(addresses);
        address = text;
    } else {
        error = ::gai_strerrorA(resolved);
    }
    cleanup();
    return resolved == 0;
}
