// OrderedReceiver: takes numbered gobs (attribute values or scan results whose payload
// begins with a sequence number, see payloadNumber) from many sockets on one thread and
// checks that each socket gets every number, in order, from 0 on.
//
// Threads: run() belongs to one thread; lowest() may be read from any other (the
// producer uses it to stay at most a window ahead of the slowest receiver).
#pragma once

#include "gob_socket.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

struct ReceiveOutcome {
    uint64_t delivered = 0; // numbered gobs received over all sockets
    bool inOrder = true;    // every socket saw 0, 1, 2, ... without a gap
    bool complete = false;  // every socket reached `count`
    double seconds = 0;     // from run() to the last gob
};

class OrderedReceiver {
public:
    OrderedReceiver(std::vector<GobSocket*> sockets, uint8_t type);

    // Receives until every socket has `count` numbered gobs, a gap shows, a socket
    // closes, or `timeout` passes.
    ReceiveOutcome run(uint64_t count, std::chrono::milliseconds timeout);
    // The number of gobs that the slowest socket has received so far.
    uint64_t lowest() const { return lowestSeen.load(std::memory_order_acquire); }

private:
    bool take(std::size_t index, ReceiveOutcome& outcome);

    std::vector<GobSocket*> sockets;
    uint8_t type;
    std::vector<uint64_t> expected; // per socket: the next number due
    std::atomic<uint64_t> lowestSeen{0};
};
