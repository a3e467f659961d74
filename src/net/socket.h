// The socket seam of the stream layer: the few socket calls the layer makes, one
// implementation per platform (socket_posix.cpp, socket_win32.cpp).
//
// Each call returns what the platform reported, captured at once: a count or a socket,
// and on failure the platform's error number together with whether the failure only
// means "would block". The calls go through one table, socketCalls(), so that a test can
// replace a single entry to make that call fail and put the original back afterwards.
//
// Threads: like the stream layer, the seam is used from the one thread that owns the
// layer; the table has no lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A platform socket held in an integer wide enough for every platform's handle.
using SocketHandle = std::intptr_t;
inline constexpr SocketHandle noSocket = -1;

// How a socket call ended.
enum class SocketStatus {
    Done,       // value holds the count or the socket
    WouldBlock, // nothing to do now; try again when the socket is ready
    Exhausted,  // out of descriptors or buffers (error holds the platform's number)
    Failed,     // error holds the platform's error number
};

struct SocketResult {
    SocketStatus status = SocketStatus::Done;
    std::intptr_t value = -1; // byte count, or the accepted socket
    int error = 0;            // the platform's error number when status is Failed
};

// The step at which opening a listening socket stopped.
enum class ListenFailure {
    None,    // the socket listens
    Resolve, // the host and port did not resolve
    Create,  // no socket could be created
    Bind,    // the address could not be bound
    Listen,  // the socket refused to listen
};

struct ListenResult {
    SocketHandle socket = noSocket; // the listening socket, non-blocking; noSocket on failure
    ListenFailure failure = ListenFailure::None;
    int error = 0; // the platform's error number for the failed step, or 0
};

struct SocketCalls {
    // Starts the platform's socket library; 0, or the platform's error number.
    int (*startup)();
    // Stops the platform's socket library.
    void (*cleanup)();
    // Resolves `host` and `port` (decimal text) as a passive stream address, then creates a
    // non-blocking socket for the first result, binds it and listens with `backlog`. On
    // failure the socket, if any, is closed again.
    ListenResult (*listen)(const char* host, const char* port, int backlog);
    // Accepts one pending connection as a new non-blocking socket.
    SocketResult (*accept)(SocketHandle listening);
    // Receives at most `size` bytes; a Done result with value 0 means the peer closed.
    SocketResult (*receive)(SocketHandle socket, char* buffer, std::size_t size);
    // Sends at most `size` bytes in one call; never raises a signal.
    SocketResult (*send)(SocketHandle socket, const char* data, std::size_t size);
    // Closes the socket.
    void (*close)(SocketHandle socket);
};

// The table the stream layer calls through; initially the platform's own calls.
SocketCalls& socketCalls();

// The C runtime's text for a socket error number, as its strerror gives it.
std::string socketErrorText(int error);

// The local port a socket is bound to, or -1.
int socketLocalPort(SocketHandle socket);

// How many descriptors the process may hold open (the soft RLIMIT_NOFILE on Linux; on
// Windows sockets are bounded by memory only, so the largest int).
int socketDescriptorLimit();

// Resolves the host name `host` to its first IPv4 address, in dotted decimal. False with
// the resolver's text in `error` when it has none. Not part of the table: it is used
// once, when the program reads its options, before the stream layer starts (on Windows
// it starts and stops Winsock itself).
bool socketResolveIpv4(const std::string& host, std::string& address, std::string& error);
