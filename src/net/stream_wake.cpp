// streamWake and its counterpart in the pass, in the manner of libuv's uv_async_send: a
// `pending` flag turns the wake-ups made before the layer's thread consumes them into a
// single signal of the channel.
//
// A wake sets `pending`; only the call that finds it clear signals the channel. The
// layer's thread, after a wait that found the channel readable, first drains the channel
// and then clears `pending`, in that order: a wake that comes between the two finds the
// flag still set and sends nothing, and its work is seen because the clear is an
// acquiring exchange that reads the flag that wake wrote. Clearing first would let such a
// wake's signal be drained away while the flag stays set, and every later wake would be
// lost.
//
// A wake while the channel is closed (the layer is down) leaves `pending` set; the next
// streamInit signals the new channel at once, so the first wait after it returns at once.
//
// Threads: streamWake and the counters on any thread; the rest on the layer's thread.
// `wakeLock` (a leaf: nothing is called under it but the channel's signal) guards the
// channel's handles against a close or open racing a wake from another thread.
#include "net/stream_internal.h"

#include <atomic>
#include <mutex>

namespace {

struct WakeState {
    std::mutex wakeLock;                   // guards `channel`; a leaf
    WakeChannel channel;                   // open between streamInit and streamShutdown
    std::atomic<bool> pending{false};      // woken, not consumed by the layer's thread yet
    std::atomic<std::uint64_t> passes{0};  // streamUpdate passes, for tests
    std::atomic<std::uint64_t> wakeups{0}; // waits the channel ended, for tests
};

WakeState& wakeState() {
    static WakeState state;
    return state;
}

} // namespace

void streamWake() {
    WakeState& state = wakeState();
    if (state.pending.exchange(true, std::memory_order_acq_rel)) {
        return;
    }
    const std::lock_guard<std::mutex> guard(state.wakeLock);
    if (state.channel.isOpen()) {
        state.channel.signal();
    }
}

int openWakeChannel() {
    WakeState& state = wakeState();
    const std::lock_guard<std::mutex> guard(state.wakeLock);
    const int error = state.channel.open();
    if (error == 0 && state.pending.load(std::memory_order_acquire)) {
        state.channel.signal();
    }
    return error;
}

void closeWakeChannel() {
    WakeState& state = wakeState();
    const std::lock_guard<std::mutex> guard(state.wakeLock);
    state.channel.close();
}

SocketHandle wakeHandle() {
    // Only the layer's thread opens and closes the channel, and this runs on it.
    return wakeState().channel.handle();
}

void consumeWake() {
    WakeState& state = wakeState();
    state.channel.drain();
    state.pending.exchange(false, std::memory_order_acq_rel);
    state.wakeups.fetch_add(1, std::memory_order_relaxed);
}

void countPass() {
    wakeState().passes.fetch_add(1, std::memory_order_relaxed);
}

std::uint64_t streamPassCount() {
    return wakeState().passes.load(std::memory_order_relaxed);
}

std::uint64_t streamWakeCount() {
    return wakeState().wakeups.load(std::memory_order_relaxed);
}
