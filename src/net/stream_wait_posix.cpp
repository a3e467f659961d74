// The readiness wait on Linux: ppoll over a pollfd array that grows as sockets are added
// and keeps its storage from pass to pass. The timeout is the seconds and microseconds of
// WaitTimeout, exact to the microsecond, or none at all for a wait without end.
//
// Conditions are reported as select reports them: a socket is readable when it has data,
// a pending connection, an end of stream, an error or a hang-up; writable when it has
// room or an error. Only the conditions asked for are reported.
//
// Threads: used by the stream layer on its one thread only.
#include "net/stream_internal.h"

#include <cerrno>
#include <poll.h>

struct StreamWait::Sets {
    std::vector<pollfd> entries; // one per slot
};

StreamWait::StreamWait() : sets(std::make_unique<Sets>()) {}

StreamWait::~StreamWait() = default;

void StreamWait::clear() {
    sets->entries.clear();
}

std::size_t StreamWait::add(SocketHandle socket, bool watchRead, bool watchWrite) {
    const auto events = static_cast<short>((watchRead ? POLLIN : 0) | (watchWrite ? POLLOUT : 0));
    growOrPanic([&] { sets->entries.push_back({static_cast<int>(socket), events, 0}); });
    return sets->entries.size() - 1;
}

void StreamWait::wait(WaitTimeout timeout) {
    const timespec limit{timeout.seconds, timeout.microseconds * 1000};
    const timespec* bound = timeout.forever ? nullptr : &limit;
    if (::ppoll(sets->entries.data(), sets->entries.size(), bound, nullptr) < 0) {
        for (pollfd& entry : sets->entries) {
            entry.revents = entry.events;
        }
    }
}

bool StreamWait::readable(std::size_t slot) const {
    const pollfd& entry = sets->entries[slot];
    return (entry.events & POLLIN) != 0 &&
           (entry.revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

bool StreamWait::writable(std::size_t slot) const {
    const pollfd& entry = sets->entries[slot];
    return (entry.events & POLLOUT) != 0 && (entry.revents & (POLLOUT | POLLERR)) != 0;
}

void StreamWait::release() {
    sets->entries = {};
}
