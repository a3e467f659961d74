// The client socket seam on Linux: BSD sockets, close-on-exec. The connect runs
// non-blocking under poll() so that it can time out; afterwards the socket blocks, and
// receives wait in poll() for their timeout. Sends pass MSG_NOSIGNAL.
//
// Threads: see client_socket.h; the functions keep no state of their own.
#include "linkrelay/client_socket.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace linkrelay {

namespace {

int millisecondsOf(std::chrono::milliseconds timeout) {
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(0, timeout.count()));
}

void setBlocking(int socket, bool blocking) {
    const int flags = ::fcntl(socket, F_GETFL, 0);
    ::fcntl(socket, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK));
}

ClientConnectResult connectFailure(ClientConnectOutcome outcome, int error, int socket) {
    ::close(socket);
    return {noClientSocket, outcome, std::strerror(error)};
}

// The error that ended a non-blocking connect, once the socket is writable.
int pendingError(int socket) {
    int error = 0;
    socklen_t size = sizeof error;
    ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size);
    return error;
}

ClientConnectResult connectOne(const addrinfo& address, std::chrono::milliseconds timeout) {
    const int socket =
        ::socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC, address.ai_protocol);
    if (socket == -1) {
        return {noClientSocket, ClientConnectOutcome::Failed, std::strerror(errno)};
    }
    setBlocking(socket, false);
    int error = 0;
    if (::connect(socket, address.ai_addr, address.ai_addrlen) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            pollfd entry{socket, POLLOUT, 0};
            if (::poll(&entry, 1, millisecondsOf(timeout)) <= 0) {
                return connectFailure(ClientConnectOutcome::TimedOut, ETIMEDOUT, socket);
            }
            error = pendingError(socket);
        }
    }
    if (error == ECONNREFUSED) {
        return connectFailure(ClientConnectOutcome::Refused, error, socket);
    }
    if (error != 0) {
        return connectFailure(ClientConnectOutcome::Failed, error, socket);
    }
    setBlocking(socket, true);
    return {socket, ClientConnectOutcome::Connected, {}};
}

} // namespace

ClientConnectResult clientSocketConnect(const std::string& host, const std::string& port,
                                        std::chrono::milliseconds timeout) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    const int resolved = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &addresses);
    if (resolved != 0) {
        return {noClientSocket, ClientConnectOutcome::Failed, ::gai_strerror(resolved)};
    }
    ClientConnectResult result{noClientSocket, ClientConnectOutcome::Failed, "no address"};
    for (const addrinfo* address = addresses; address != nullptr; address = address->ai_next) {
        result = connectOne(*address, timeout);
        if (result.outcome == ClientConnectOutcome::Connected) {
            break;
        }
    }
    ::freeaddrinfo(addresses);
    return result;
}

ClientIoResult clientSocketReceive(ClientSocketHandle socket, uint8_t* buffer, std::size_t size,
                                   std::chrono::milliseconds timeout) {
    const int native = static_cast<int>(socket);
    pollfd entry{native, POLLIN, 0};
    const int ready = ::poll(&entry, 1, millisecondsOf(timeout));
    if (ready == 0 || (ready < 0 && errno == EINTR)) {
        return {ClientIoOutcome::TimedOut, 0, {}};
    }
    if (ready < 0) {
        return {ClientIoOutcome::Failed, 0, std::strerror(errno)};
    }
    const ssize_t count = ::recv(native, buffer, size, 0);
    if (count > 0) {
        return {ClientIoOutcome::Done, static_cast<std::size_t>(count), {}};
    }
    if (count == 0 || errno == ECONNRESET) {
        return {ClientIoOutcome::Closed, 0, {}};
    }
    if (errno == EINTR || errno == EAGAIN) {
        return {ClientIoOutcome::TimedOut, 0, {}};
    }
    return {ClientIoOutcome::Failed, 0, std::strerror(errno)};
}

ClientIoResult clientSocketSendAll(ClientSocketHandle socket, const uint8_t* data,
                                   std::size_t size) {
    std::size_t sent = 0;
    while (sent < size) {
        const ssize_t count =
            ::send(static_cast<int>(socket), data + sent, size - sent, MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 && (errno == EPIPE || errno == ECONNRESET)) {
            return {ClientIoOutcome::Closed, sent, {}};
        }
        if (count < 0) {
            return {ClientIoOutcome::Failed, sent, std::strerror(errno)};
        }
        sent += static_cast<std::size_t>(count);
    }
    return {ClientIoOutcome::Done, sent, {}};
}

void clientSocketClose(ClientSocketHandle socket) {
    ::close(static_cast<int>(socket));
}

} // namespace linkrelay
