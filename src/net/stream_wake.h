// The wake-up channel of the stream layer: a handle that the readiness wait watches for
// reading and that any thread can make readable, so that a thread blocked in streamUpdate
// returns at once. One implementation per platform:
// - stream_wake_linux.cpp: an eventfd; a signal adds 1 to its counter, a drain reads it
//   back to 0.
// - stream_wake_win32.cpp: select waits on sockets only, so the channel is a connected
//   pair of loopback TCP sockets made when the layer starts; a signal sends one byte on
//   one end, the wait watches the other end, a drain reads what has arrived. It is one
//   more socket in the read set, so it works with any number of 64-socket units.
//
// The coalescing of signals (several streamWake calls before the wait returns cost one
// signal) is done above this seam, in stream_wake.cpp.
//
// Threads: open, close and drain run on the thread that owns the layer; signal on any
// thread, serialised with open and close by the caller's lock.
#pragma once

#include "net/socket.h"

class WakeChannel {
public:
    // Makes the channel: 0, or the platform's error number (nothing is left open).
    int open();
    // Closes every handle of the channel; nothing happens when it is not open.
    void close();
    bool isOpen() const { return watched != noSocket; }
    // The handle the wait watches for reading.
    SocketHandle handle() const { return watched; }
    // Makes the watched handle readable until the next drain.
    void signal();
    // Consumes every signal made so far.
    void drain();

private:
    SocketHandle watched = noSocket;                 // eventfd, or the receiving socket of the pair
    [[maybe_unused]] SocketHandle sender = noSocket; // the sending socket of the pair (Windows)
};
