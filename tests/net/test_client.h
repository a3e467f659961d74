// A small TCP client for the stream layer's tests, on the loopback address, plus socket
// helpers and a count of the process's open handles. One implementation per platform
// (test_client_posix.cpp, test_client_win32.cpp). On Windows the socket library must be started
// first (streamInit).
//
// The connect blocks (the listening socket's backlog completes it without an accept);
// afterwards the client's socket is non-blocking, so a test can pump streamUpdate and
// collect what has arrived on the same thread.
#pragma once

#include "net/socket.h"

#include <cstddef>
#include <string>

class TestClient {
public:
    explicit TestClient(int port);
    ~TestClient();
    TestClient(const TestClient&) = delete;
    TestClient& operator=(const TestClient&) = delete;

    bool connected() const { return socket != noSocket; }
    // Sends every byte, waiting while the socket buffer is full; false on failure.
    bool sendAll(const std::string& bytes);
    // Appends every byte that has arrived to `received`; notes the peer's close.
    void collect();
    // Ends the connection with a FIN, or with a reset (linger 0).
    void close();
    void reset();
    int localPort() const;
    void setReceiveBuffer(int bytes);

    std::string received;    // everything collected so far, in order
    bool peerClosed = false; // the peer's end of stream (or a reset) was seen

private:
    SocketHandle socket = noSocket;
};

// Sets the send or receive buffer size of any socket (the layer's accepted sockets
// included).
void setSendBuffer(SocketHandle socket, int bytes);
void setReceiveBuffer(SocketHandle socket, int bytes);

// The port of the peer a connected socket talks to, or -1.
int peerPort(SocketHandle socket);

// The number of descriptors (Linux) or kernel handles (Windows) the process holds open.
int openHandleCount();
