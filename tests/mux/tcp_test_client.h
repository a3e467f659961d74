// The Mux's tests' view of a loopback client (the tests' GobSocket) that keeps every gob
// it receives, plus a socket that holds a port (Linux).
//
// Every wait is bounded by a time limit. Threads: each object is used by one thread.
#pragma once

#include "gob_socket.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

using GobBytes = std::vector<uint8_t>;

class TcpTestClient {
public:
    // Connects to 127.0.0.1:`port`, trying for up to 5 s; null when nobody listens. A
    // `receiveBuffer` above 0 is set on the socket before it connects.
    static std::unique_ptr<TcpTestClient> connectTo(int port, int receiveBuffer = 0);
    TcpTestClient() = default;
    TcpTestClient(const TcpTestClient&) = delete;
    TcpTestClient& operator=(const TcpTestClient&) = delete;

    // Sends the bytes; with `oneByOne` each byte goes in its own segment.
    bool sendBytes(const GobBytes& bytes, bool oneByOne = false);
    // Sends the gob with its length prefix.
    bool sendGob(const GobBytes& gob);

    // Receives until `count` gobs have arrived in all, the peer closes, or `limit`
    // passes; returns every gob received so far.
    const std::vector<GobBytes>& receiveGobs(std::size_t count, std::chrono::milliseconds limit);
    // Receives (and keeps) until the peer closes or `limit` passes; true when it closed.
    bool waitClosed(std::chrono::milliseconds limit);

    const std::vector<GobBytes>& gobs() const { return received; }
    bool closed() const { return socket.closed(); }

private:
    // Waits until `limit` for the next gob and keeps it; false when none came.
    bool receiveOne(std::chrono::steady_clock::time_point limit);

    GobSocket socket;
    std::vector<GobBytes> received;
};

// A socket listening on every IPv4 interface at `port`, as another program would.
class PortHolder {
public:
    explicit PortHolder(int port);
    ~PortHolder();
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;

    bool holding() const { return socket >= 0; }
    void release();

private:
    int socket = -1;
};

// The framed bytes of one gob.
GobBytes framed(const GobBytes& gob);
