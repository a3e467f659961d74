// The socket seam of the client library: a blocking TCP connection with a connect
// timeout and a receive timeout. One implementation per platform
// (client_socket_posix.cpp, client_socket_win32.cpp).
//
// Threads: one thread may send while another receives on the same socket; opening and
// closing must not overlap any other call on that socket.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace linkrelay {

// A platform socket held in an integer wide enough for every platform's handle.
using ClientSocketHandle = std::intptr_t;
inline constexpr ClientSocketHandle noClientSocket = -1;

enum class ClientConnectOutcome {
    Connected,
    Refused,  // the peer answered that nothing listens there
    TimedOut, // no answer within the timeout
    Failed,   // the host did not resolve, or another error; see `detail`
};

struct ClientConnectResult {
    ClientSocketHandle socket = noClientSocket; // set when Connected
    ClientConnectOutcome outcome = ClientConnectOutcome::Failed;
    std::string detail; // the platform's description of a failure
};

// Resolves `host` and `port` (decimal text) and connects to the first address that
// accepts, within `timeout` for each attempt.
ClientConnectResult clientSocketConnect(const std::string& host, const std::string& port,
                                        std::chrono::milliseconds timeout);

enum class ClientIoOutcome {
    Done,     // `count` bytes moved (a receive moves at least one)
    TimedOut, // nothing arrived within the timeout (or the wait was interrupted)
    Closed,   // the peer ended the connection
    Failed,   // see `detail`
};

struct ClientIoResult {
    ClientIoOutcome outcome = ClientIoOutcome::Failed;
    std::size_t count = 0;
    std::string detail;
};

// Waits up to `timeout` for bytes and receives at most `size` of them.
ClientIoResult clientSocketReceive(ClientSocketHandle socket, uint8_t* buffer, std::size_t size,
                                   std::chrono::milliseconds timeout);

// Sends every byte, blocking while the socket's buffer is full. A peer that has gone
// away yields Closed (never a signal).
ClientIoResult clientSocketSendAll(ClientSocketHandle socket, const uint8_t* data,
                                   std::size_t size);

void clientSocketClose(ClientSocketHandle socket);

} // namespace linkrelay
