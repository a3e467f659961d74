// The body of the mux thread: the Mux's init, work and close, over and over, until a
// stop is requested.
//
// Threads: runs on the mux thread; `stopping` is called before every step and must be
// safe to call there (an atomic read of the Daemon's stop flag). Whoever makes `stopping`
// true calls Mux::wake afterwards: the loop sleeps until there is work.
#pragma once

#include <functional>

class Conduit;
class Mux;

// The pause after a failed init, which a wake with `stopping` true ends early.
constexpr int muxInitRetryMs = 1000;

// The pause after a failed init, given its length in milliseconds.
using InitRetryPause = std::function<void(int milliseconds)>;

// Inits the Mux with `conduit` (retrying about once a second while that fails), runs
// work steps until one fails, closes the Mux and starts again; returns once `stopping`
// is true, always leaving the Mux closed.
void runMuxLoop(Mux& mux, Conduit& conduit, const std::function<bool()>& stopping);
// The same with `pause` in place of Mux::restAfterFailedInit (for tests that count or
// hold the retries).
void runMuxLoop(Mux& mux, Conduit& conduit, const std::function<bool()>& stopping,
                const InitRetryPause& pause);
