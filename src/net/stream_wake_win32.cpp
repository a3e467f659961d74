// The wake-up channel on Windows: a pair of connected loopback TCP sockets. The pair is
// made by listening on 127.0.0.1 at a port the system chooses, connecting to it and
// accepting; the accepted socket must be the one that connected (its peer port is the
// connecting socket's own port), else an unrelated local program got in first and the
// open fails. The listening socket is closed at once. Both ends are non-blocking and
// Nagle's algorithm is off on the sending end, so the byte leaves at once.
//
// A signal sends one byte (a send that would block means bytes are still unread, which
// wakes the wait just as well); a drain reads until nothing is left.
//
// Threads: see stream_wake.h.
#include "net/stream_wake.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace {

void setNonBlocking(SOCKET socket) {
    u_long nonBlocking = 1;
    ::ioctlsocket(socket, FIONBIO, &nonBlocking);
}

int portOf(const sockaddr_in& address) {
    return ntohs(address.sin_port);
}

// The three sockets of the pairing; every one still held is closed on failure.
struct Pairing {
    SOCKET listening = INVALID_SOCKET;
    SOCKET connecting = INVALID_SOCKET;
    SOCKET accepted = INVALID_SOCKET;

    int fail() {
        const int error = ::WSAGetLastError();
        for (SOCKET socket : {listening, connecting, accepted}) {
            if (socket != INVALID_SOCKET) {
                ::closesocket(socket);
            }
        }
        return error != 0 ? error : WSAECONNREFUSED;
    }
};

} // namespace

int WakeChannel::open() {
    Pairing pair;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    pair.listening = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (pair.listening == INVALID_SOCKET ||
        ::bind(pair.listening, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(pair.listening, 1) != 0 ||
        ::getsockname(pair.listening, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return pair.fail();
    }
    pair.connecting = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (pair.connecting == INVALID_SOCKET ||
        ::connect(pair.connecting, reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
            0) {
        return pair.fail();
    }
    sockaddr_in local{};
    sockaddr_in peer{};
    int localLength = sizeof local;
    int peerLength = sizeof peer;
    pair.accepted = ::accept(pair.listening, reinterpret_cast<sockaddr*>(&peer), &peerLength);
    if (pair.accepted == INVALID_SOCKET ||
        ::getsockname(pair.connecting, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
        portOf(local) != portOf(peer)) {
        ::WSASetLastError(WSAECONNREFUSED);
        return pair.fail();
    }
    ::closesocket(pair.listening);
    const BOOL noDelay = TRUE;
    ::setsockopt(pair.connecting, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                 sizeof noDelay);
    setNonBlocking(pair.connecting);
    setNonBlocking(pair.accepted);
    sender = static_cast<SocketHandle>(pair.connecting);
    watched = static_cast<SocketHandle>(pair.accepted);
    return 0;
}

void WakeChannel::close() {
    for (SocketHandle* socket : {&watched, &sender}) {
        if (*socket != noSocket) {
            ::closesocket(static_cast<SOCKET>(*socket));
            *socket = noSocket;
        }
    }
}

void WakeChannel::signal() {
    const char byte = 1;
    ::send(static_cast<SOCKET>(sender), &byte, 1, 0);
}

void WakeChannel::drain() {
    char bytes[64];
    while (::recv(static_cast<SOCKET>(watched), bytes, sizeof bytes, 0) > 0) {
    }
}
