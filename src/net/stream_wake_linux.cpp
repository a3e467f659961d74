// The wake-up channel on Linux: one non-blocking, close-on-exec eventfd. A signal adds 1
// to its counter (a write that would overflow the counter cannot happen: the signals are
// coalesced above, so at most one is outstanding); a drain reads the counter back to 0.
//
// Threads: see stream_wake.h.
#include "net/stream_wake.h"

#include <cerrno>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

int WakeChannel::open() {
    const int descriptor = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (descriptor == -1) {
        return errno;
    }
    watched = descriptor;
    return 0;
}

void WakeChannel::close() {
    if (watched != noSocket) {
        ::close(static_cast<int>(watched));
        watched = noSocket;
    }
}

void WakeChannel::signal() {
    const std::uint64_t one = 1;
    // A failed write leaves nothing to recover: the counter can only be full of signals.
    [[maybe_unused]] const ssize_t written = ::write(static_cast<int>(watched), &one, sizeof one);
}

void WakeChannel::drain() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t read = ::read(static_cast<int>(watched), &count, sizeof count);
}
