// A blocking loopback TCP client for the Mux's tests, speaking framed gobs, plus a socket
// that holds a port. One implementation per platform (tcp_test_client_posix.cpp).
//
// Every wait is bounded by a time limit. Threads: each object is used by one thread.
#pragma once

#include "gob/gob_framing.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

using GobBytes = std::vector<uint8_t>;

class TcpTestClient {
public:
    // Connects to 127.0.0.1:`port`; null when nobody listens. A `receiveBuffer` above 0
    // is set on the socket before it connects.
    static std::unique_ptr<TcpTestClient> connectTo(int port, int receiveBuffer = 0);
    // Connects again and again until it succeeds or `limit` has passed.
    static std::unique_ptr<TcpTestClient> connectWithin(int port, std::chrono::milliseconds limit);
    ~TcpTestClient();
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
    // Receives what has arrived without waiting.
    void poll();

    const std::vector<GobBytes>& gobs() const { return received; }
    bool closed() const { return peerClosed; }
    int descriptor() const { return socket; }

private:
    explicit TcpTestClient(int socket) : socket(socket) {}
    // Waits up to `limit` for bytes and takes them in; false when nothing came.
    bool receiveOnce(std::chrono::milliseconds limit);

    int socket;
    GobFrameParser parser;
    std::vector<GobBytes> received;
    bool peerClosed = false;
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
