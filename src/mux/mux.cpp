// The Mux's life cycle: init, the work step, close, the GobServer hooks, and waking the
// mux thread.
//
// Threads: the mux thread runs everything here but wake, which any thread may call. Locks: the work
// step holds eventLock while it flushes and routes, and releases it before it calls the conduit
// (orphan release) or the stream layer's update, in which dispatch takes the conduit lock. close
// calls the conduit (conduit lock) with eventLock not held.
#include "mux/mux.h"

#include "conduit/conduit.h"
#include "log/log.h"
#include "mux/gob_server.h"
#include "mux/mux_text.h"

#include <chrono>
#include <string>

namespace {

void onGobHook(Stream* stream, Gob& gob, void* context) {
    static_cast<Mux*>(context)->dispatch(stream, gob);
}

void onBadFrameHook(Stream* stream, void* context) {
    static_cast<Mux*>(context)->badFrame(stream);
}

void onStalledHook(Stream* stream, void* context) {
    static_cast<Mux*>(context)->stalledFrame(stream);
}

void onAddHook(Stream* stream, void* context) {
    static_cast<Mux*>(context)->addClient(stream);
}

void onRemoveHook(Stream* stream, void* context) {
    static_cast<Mux*>(context)->removeStream(stream);
}

} // namespace

int Mux::init(Conduit* backend, MuxMessage& message) {
    muxThread.claim();
    logPrint(LogStamp::With, "mux: initing\n");
    conduit = backend;
    {
        const LockGuard guard(eventLock);
        events.clear();
    }
    failed = false;
    failure.clear();
    orphans.clear();
    serverSetHooks({onGobHook, onBadFrameHook, onStalledHook, onAddHook, onRemoveHook, this});
    if (serverInit(message.data()) != 0) {
        serverSetHooks({});
        return 1;
    }
    server = serverCreate(listenAddress);
    if (server == nullptr) {
        // The address and the system's reason (taken from the stream's recorded error), so
        // that a busy port or an address not on this machine can be told apart in the log.
        char reason[gobServerTextSize] = {};
        serverTakeError(reason);
        const std::string text =
            "failed to create server: " + listenAddressText(listenAddress) + ": " + reason;
        setMessage(message, text.c_str());
        // The closed listening stream is nobody's client: no hook for its destroy.
        serverSetHooks({});
        serverClose();
        return 1;
    }
    logPrint(LogStamp::With, "mux: listening on %s\n", listenAddressText(listenAddress).c_str());
    const LockGuard guard(stateLock);
    inited = true;
    logPrint(LogStamp::With, "mux: inited, linkrelay built with commit: %s\n", buildCommit.c_str());
    return 0;
}

int Mux::work(MuxMessage& message) {
    ASSERT_OWNING_THREAD(muxThread);
    message.back() = '\0';
    int routed = 0;
    {
        const LockGuard guard(eventLock);
        flushOutboxes();
        routed = routeEvents(message);
    }
    // eventLock is released: the conduit lock may be taken now.
    releaseOrphans();
    // Gobs held back by the fairness bound, and begun frames that are late.
    serverPass();
    if (routed != 0) {
        return -1;
    }
    if (serverFailed()) {
        serverTakeError(message.data());
        return -1;
    }
    // Only gobs held back and begun frames need a clock (serverWaitLimit): outboxes that
    // could not be written wait for their stream's Ready (the stream is watched for
    // writing until then), written output for its socket, a closed stream is destroyed
    // before the wait, and events, stops and failures wake the wait.
    setUpdateTimeout(serverWaitLimit());
    streamUpdate();
    if (failed) {
        failed = false;
        setMessage(message, failure.c_str());
        return -1;
    }
    return 0;
}

void Mux::close() {
    ASSERT_OWNING_THREAD(muxThread);
    {
        const LockGuard guard(stateLock);
        if (!inited) {
            return;
        }
        inited = false;
    }
    logPrint(LogStamp::With, "mux: closing\n");
    std::set<BleAddress> held;
    bool scanning = false;
    for (const MuxClient& client : clients) {
        held.insert(client.connected.begin(), client.connected.end());
        scanning = scanning || client.scanning;
        forgetQueued(client.id);
    }
    clients.clear();
    clientIndex.clear();
    releaseHeld(held, scanning, "close");
    {
        const LockGuard guard(eventLock);
        events.clear();
    }
    serverClose();
    server = nullptr;
    logPrint(LogStamp::With, "mux: closed\n");
}

void Mux::openWithoutServer(Conduit* backend) {
    muxThread.claim();
    conduit = backend;
    const LockGuard guard(stateLock);
    inited = true;
}

void Mux::removeStream(Stream* stream) {
    ASSERT_OWNING_THREAD(muxThread);
    if (stream == server) {
        server = nullptr;
        logPrint(LogStamp::With, "mux: server closed\n");
        fail("server closed");
        return;
    }
    removeClient(stream);
}

void Mux::fail(const char* text) {
    ASSERT_OWNING_THREAD(muxThread);
    failed = true;
    failure = text;
    // Recorded inside an update, the failure ends the step; recorded anywhere else, it
    // must not wait for an unrelated wake-up.
    streamWake();
}

void Mux::wake() {
    {
        // Taken so that a rest that has just checked its stop condition is already waiting
        // when the notification comes.
        const std::lock_guard<std::mutex> guard(restLock);
    }
    restWake.notify_all();
    streamWake();
}

void Mux::restAfterFailedInit(int milliseconds, const std::function<bool()>& stopping) {
    ASSERT_OWNING_THREAD(muxThread);
    std::unique_lock<std::mutex> guard(restLock);
    restWake.wait_for(guard, std::chrono::milliseconds(milliseconds), stopping);
}

bool Mux::isInited() {
    const LockGuard guard(stateLock);
    return inited;
}
