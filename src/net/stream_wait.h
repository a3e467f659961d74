// The readiness seam of the stream layer: one wait per pass for the sockets of the streams
// and the wake-up channel, one implementation per platform (stream_wait_posix.cpp: poll over a
// growing pollfd array; stream_wait_win32.cpp: select over growing 64-socket sets).
//
// Each pass clears the wait, adds every watched socket (for reading and for writing as
// asked; the exception condition is watched for no socket), waits, then asks per
// slot whether the socket became readable or writable. When the wait itself fails, every
// condition that was asked for counts as met: the stream is handled as if ready, and its
// accept, receive or send then finds nothing to do.
//
// Threads: owned by the stream layer and used from its one thread only.
#pragma once

#include "net/socket.h"

#include <cstddef>
#include <memory>

// A wait of `seconds` whole seconds and `microseconds` more, or without end.
struct WaitTimeout {
    long seconds;
    long microseconds;
    bool forever = false;
};

// Splits a timeout in seconds into whole seconds and microseconds (the fraction times
// 1,000,000, truncated): 0.001 s is 0 s and 1000 us. A timeout that is not positive
// does not wait; an infinite one (streamWaitForever) waits without end.
WaitTimeout splitTimeout(double seconds);

class StreamWait {
public:
    StreamWait();
    ~StreamWait();
    StreamWait(const StreamWait&) = delete;
    StreamWait& operator=(const StreamWait&) = delete;

    // Forgets the sockets of the previous pass; the storage is kept.
    void clear();
    // Watches `socket` for reading when `watchRead` and for writing when `watchWrite`.
    // Slots are numbered 0, 1, 2 ... in the order of the calls since clear().
    std::size_t add(SocketHandle socket, bool watchRead, bool watchWrite);
    // Waits until a watched condition is met or the timeout has passed.
    void wait(WaitTimeout timeout);
    bool readable(std::size_t slot) const;
    bool writable(std::size_t slot) const;
    // Frees the storage (at shutdown); the wait can be used again afterwards.
    void release();

private:
    struct Sets;
    std::unique_ptr<Sets> sets;
};
