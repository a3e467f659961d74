// Receiving numbered gobs in order. See ordered_receiver.h.
#include "ordered_receiver.h"

#include <algorithm>
#include <poll.h>

OrderedReceiver::OrderedReceiver(std::vector<GobSocket*> sockets, uint8_t type)
    : sockets(std::move(sockets)), type(type), expected(this->sockets.size(), 0) {}

bool OrderedReceiver::take(std::size_t index, ReceiveOutcome& outcome) {
    GobSocket& socket = *sockets[index];
    const bool open = socket.pump();
    while (std::optional<Gob> gob = socket.next()) {
        if (gobType(*gob) != type) {
            continue;
        }
        const std::optional<uint64_t> number = payloadNumber(*gob);
        if (!number || *number != expected[index]) {
            outcome.inOrder = false;
            return false;
        }
        ++expected[index];
        ++outcome.delivered;
    }
    return open;
}

ReceiveOutcome OrderedReceiver::run(uint64_t count, std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    ReceiveOutcome outcome;
    const auto start = Clock::now();
    const auto deadline = start + timeout;
    std::vector<pollfd> fds;
    for (GobSocket* socket : sockets) {
        fds.push_back({socket->fd(), POLLIN, 0});
    }
    auto last = start;
    while (Clock::now() < deadline) {
        ::poll(fds.data(), fds.size(), 10);
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            if (!take(i, outcome)) {
                outcome.seconds = std::chrono::duration<double>(Clock::now() - start).count();
                return outcome;
            }
            last = Clock::now();
        }
        const uint64_t lowest = *std::min_element(expected.begin(), expected.end());
        lowestSeen.store(lowest, std::memory_order_release);
        if (lowest >= count) {
            outcome.complete = true;
            break;
        }
    }
    outcome.seconds = std::chrono::duration<double>(last - start).count();
    return outcome;
}
