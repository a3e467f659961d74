// A stand-in for the service in tests: a loopback TCP server on a free port that takes
// one client at a time, sends it scripted bytes, parses the request gobs it sends, and
// can answer each request through a responder. Built on the stream layer's socket seam.
//
// Threads: the server runs on a thread of its own; the test's thread calls the public
// functions. `lock` guards everything that both use: the outgoing queue, the requests
// received, the close request, the responder and the counters.
#pragma once

#include "gob/gob.h"
#include "gob/gob_framing.h"
#include "net/socket.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

using Bytes = std::vector<uint8_t>;

// The frame (prefix and content) of a gob.
Bytes frameOf(const Gob& gob);

class FakeGobServer {
public:
    // The frames to send in answer to one request; none for no answer. An empty frame
    // ends the client's connection there, as the service does when it refuses a request.
    using Responder = std::function<std::vector<Bytes>(const Gob& request)>;

    // Listens on 127.0.0.1 at a free port. `greeting` goes to each client once accepted.
    explicit FakeGobServer(Bytes greeting = {});
    ~FakeGobServer();
    FakeGobServer(const FakeGobServer&) = delete;
    FakeGobServer& operator=(const FakeGobServer&) = delete;

    uint16_t port() const { return listenPort; }
    void setResponder(Responder responder);
    // Queues bytes for the current (or next) client, sent with one send call each piece,
    // with a pause between pieces so that they arrive as separate segments.
    void send(const Bytes& bytes);
    void sendPieces(const std::vector<Bytes>& pieces);
    // Ends the current client's connection once everything queued before has been sent.
    void closeClient();

    // Waits until `count` request gobs have arrived; false when the time runs out.
    bool waitRequests(size_t count, std::chrono::milliseconds timeout);
    // The request gobs so far, in reading mode.
    std::vector<Gob> requests();
    // The raw bytes received from every client so far.
    Bytes receivedBytes();
    // Waits until the current client has been closed by the server.
    bool waitClosed(std::chrono::milliseconds timeout);

private:
    struct Outgoing {
        Bytes bytes;
        bool closeAfter = false;
    };

    void run();
    void serveClient(SocketHandle client);
    // Takes what has arrived and collects the responder's answers; false once the client
    // has gone.
    bool receiveFrom(SocketHandle client, GobFrameParser& parser, std::vector<Bytes>& answers);
    bool sendTo(SocketHandle client, const Bytes& bytes);

    SocketHandle listener = noSocket;
    uint16_t listenPort = 0;
    Bytes greeting;
    std::thread thread;
    std::mutex lock;
    std::condition_variable changed;
    std::deque<Outgoing> outgoing;
    std::vector<Gob> received;
    Bytes receivedRaw;
    Responder responder;
    size_t closedClients = 0;
    bool stopping = false;
};
