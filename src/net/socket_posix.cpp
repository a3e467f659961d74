// The socket seam on Linux: BSD sockets, created non-blocking and close-on-exec. The
// listening socket carries SO_REUSEADDR, so that a restarted mux can listen again at once
// while connections of its previous run sit in TIME_WAIT. Sends pass MSG_NOSIGNAL: a peer
// that has gone away makes the send fail instead of raising SIGPIPE.
//
// EMFILE, ENFILE, ENOBUFS and ENOMEM count as exhaustion. Error numbers are errno values; resolver
// failures carry the resolver's own negative EAI_* numbers (EAI_SYSTEM is replaced by errno), which
// never collide with errno values, so socketErrorText can tell the two apart.
//
// Threads: called from the thread that owns the stream layer only.
#include "net/socket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int startup() {
    return 0;
}

void cleanup() {}

bool wouldBlock(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

bool exhausted(int error) {
    return error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM;
}

SocketResult failure(int error) {
    if (wouldBlock(error)) {
        return {SocketStatus::WouldBlock, -1, error};
    }
    return {exhausted(error) ? SocketStatus::Exhausted : SocketStatus::Failed, -1, error};
}

ListenResult listenFailure(ListenFailure step, int error, int socket) {
    if (socket != -1) {
        ::close(socket);
    }
    return {noSocket, step, error};
}

ListenResult openListener(const addrinfo& address, int backlog) {
    const int socket = ::socket(
        address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.ai_protocol);
    if (socket == -1) {
        return listenFailure(ListenFailure::Create, errno, socket);
    }
    const int reuse = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    if (::bind(socket, address.ai_addr, address.ai_addrlen) != 0) {
        return listenFailure(ListenFailure::Bind, errno, socket);
    }
    if (::listen(socket, backlog) != 0) {
        return listenFailure(ListenFailure::Listen, errno, socket);
    }
    return {socket, ListenFailure::None, 0};
}

ListenResult listenOn(const char* host, const char* port, int backlog) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* addresses = nullptr;
    const int resolved = ::getaddrinfo(host, port, &hints, &addresses);
    if (resolved != 0) {
        return listenFailure(ListenFailure::Resolve, resolved == EAI_SYSTEM ? errno : resolved, -1);
    }
    const ListenResult result = openListener(*addresses, backlog);
    ::freeaddrinfo(addresses);
    return result;
}

SocketResult acceptOne(SocketHandle listening) {
    const int socket =
        ::accept4(static_cast<int>(listening), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (socket == -1) {
        return failure(errno);
    }
    return {SocketStatus::Done, socket, 0};
}

SocketResult receiveSome(SocketHandle socket, char* buffer, std::size_t size) {
    const ssize_t count = ::recv(static_cast<int>(socket), buffer, size, 0);
    if (count < 0) {
        return failure(errno);
    }
    return {SocketStatus::Done, count, 0};
}

SocketResult sendSome(SocketHandle socket, const char* data, std::size_t size) {
    const ssize_t count = ::send(static_cast<int>(socket), data, size, MSG_NOSIGNAL);
    if (count < 0) {
        return failure(errno);
    }
    return {SocketStatus::Done, count, 0};
}

void closeSocket(SocketHandle socket) {
    ::close(static_cast<int>(socket));
}

} // namespace

SocketCalls& socketCalls() {
    static SocketCalls calls{startup,     cleanup,  listenOn,   acceptOne,
                             receiveSome, sendSome, closeSocket};
    return calls;
}

std::string socketErrorText(int error) {
    if (error < 0) {
        return ::gai_strerror(error);
    }
    return std::strerror(error);
}

int socketLocalPort(SocketHandle socket) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), &length) !=
        0) {
        return -1;
    }
    if (address.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
    }
    return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
}

int socketDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur > rlim_t{INT_MAX}) {
        return INT_MAX;
    }
    return static_cast<int>(limit.rlim_cur);
}

bool socketResolveIpv4(const std::string& host, std::string& address, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    const int resolved = ::getaddrinfo(host.c_str(), nullptr, &hints, &addresses);
    if (resolved != 0) {
        error = socketErrorText(resolved == EAI_SYSTEM ? errno : resolved);
        return false;
    }
    char text[INET_ADDRSTRLEN] = {};
    const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(addresses->ai_addr);
    ::inet_ntop(AF_INET, &ipv4->sin_addr, text, sizeof text);
    ::freeaddrinfo(addresses);
    address = text;
    return true;
}
