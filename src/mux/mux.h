// The Mux: the TCP side of the service. It keeps one MuxClient per connected client,
// turns each request gob into a call on the Conduit, and routes the event gobs that the
// conduit posts to the clients that should see them.
//
// Threads:
// - The mux thread runs init, work and close (through runMuxLoop) and, inside the stream
//   layer's update, addClient, removeClient, dispatch and the other client operations.
//   Only it touches the GobServer, the streams, `clients`, `clientIndex`, `server`,
//   `failed`, `failure`, `orphans` and `nextClientId`. init records it (`muxThread`) and
//   each mux-thread entry checks it (ASSERT_OWNING_THREAD, base/thread_check.h).
// - Any thread may call postEvent (the conduit calls it with its own lock held) and wake.
//   Both wake the mux thread: it sleeps in the stream layer's update until a socket is
//   ready or it is woken, and between failed inits in restAfterFailedInit.
//
// Locks, always taken in this order, never the other way round:
// 1. the conduit lock (`conduit->lock`): held by the mux thread around every conduit call;
// 2. `eventLock` (recursive): guards `events` and is held around the outbox writes of
//    routing and greeting (dropClient clears an outbox without it: the outboxes are the
//    mux thread's alone). The mux thread never waits for the conduit lock while it holds it;
// 3. `stateLock`: guards `inited`; a leaf (only the log lock may be taken under it).
// `restLock` guards nothing but the rest after a failed init; wake takes it alone, and
// the stream layer's wake-up lock is a leaf of its own.
//
// Ownership: the Mux owns its client records and their outboxes, the queued events and
// the listening stream's identity; the stream layer owns the streams; the conduit is not
// owned.
#pragma once

#include "base/locks.h"
#include "base/thread_check.h"
#include "conduit/conduit.h"
#include "conduit/event_sink.h"
#include "gob/ble_types.h"
#include "gob/gob.h"
#include "mux/gob_server.h"
#include "net/listen_address.h"
#include "net/stream.h"

#include <array>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

// The buffer in which init and work return a failure text: at most 255 characters and a
// terminating zero.
using MuxMessage = std::array<char, 256>;

// Unsent output (outbox and stream write buffer) above which a client is dropped.
constexpr std::size_t muxClientOutputBound = std::size_t{8} * 1024 * 1024;

struct MuxClient {
    uint64_t id = 0;                      // unique in the process; the conduit's requester
    bool scanning = false;                // the client has an active scan request
    std::set<BleAddress> pendingConnects; // asked to connect, not yet reported connected
    std::set<BleAddress> connected;       // connected on the client's behalf
    Stream* stream = nullptr;             // the client's TCP stream
    std::list<Gob> outbox;                // gobs waiting for the stream to become ready
    std::size_t outboxBytes = 0;          // the size of every gob in the outbox
    bool dropped = false;                 // its stream was closed; removal follows
};

class Mux : public EventSink {
public:
    // `commit`: the commit the program was built from, named in the init log line; a Mux
    // made without one (tests, tools) names none.
    Mux() = default;
    explicit Mux(std::string commit) : buildCommit(std::move(commit)) {}
    Mux(const Mux&) = delete;
    Mux& operator=(const Mux&) = delete;

    // The address the next init listens on; by default 0.0.0.0:9089. Called while the
    // Mux is closed, before its thread starts.
    void listenOn(const ListenAddress& address) { listenAddress = address; }

    // Starts listening. 0, or 1 with the reason in `message`; a failed init leaves
    // nothing behind (the stream layer is shut down again). The calling thread becomes
    // the mux thread, which every mux-thread entry below checks.
    int init(Conduit* conduit, MuxMessage& message);
    // One work step: flush outboxes, route events, then one update of the streams, which
    // waits until there is work: a socket ready, an event posted or a wake. 0, or -1 with
    // the reason in `message` when the Mux must be restarted.
    int work(MuxMessage& message);
    // Drops every client, releasing what they held on the conduit, and stops listening.
    void close();

    // Makes the Mux inited on `conduit` without listening and without the stream layer,
    // so that the registry, dispatch and routing can be driven directly (tests). The
    // calling thread becomes the mux thread.
    void openWithoutServer(Conduit* backend);

    // Any thread: queues a copy of the gob for routing and wakes the mux thread; dropped
    // while not inited.
    void postEvent(const Gob& gob) override;
    // Any thread: wakes the mux thread wherever it waits (the work step's update, the rest
    // after a failed init), so that it looks at its stop condition again.
    void wake();
    // Mux thread: waits `milliseconds`, or less once `stopping` holds after a wake.
    void restAfterFailedInit(int milliseconds, const std::function<bool()>& stopping);

    // Mux thread, from the GobServer hooks.
    void addClient(Stream* stream);
    void removeClient(Stream* stream);
    // A destroyed stream: the listening stream fails the Mux, a client is removed.
    void removeStream(Stream* stream);
    void dispatch(Stream* stream, Gob& gob) EXCLUDES(eventLock);
    void badFrame(Stream* stream);
    // The client began a frame and did not complete it in time: it is dropped.
    void stalledFrame(Stream* stream);
    // Records a failure of the server itself, which fails the current work step.
    void fail(const char* text);

    void logClients() const;
    bool anyScanning() const;
    // Caller holds eventLock. Queues a copy and writes as much as the stream takes.
    bool sendTo(MuxClient& client, const Gob& gob) REQUIRES(eventLock);

    // Routes every queued event and empties the queue (work step, eventLock held by the
    // caller). 0, or -1 with the text of a gob too short for its address in `message`;
    // the queue is then left as it is until close.
    int routeEvents(MuxMessage& message) REQUIRES(eventLock);
    // Disconnects the devices that connected for nobody during routing (no eventLock).
    void releaseOrphans() EXCLUDES(eventLock);

    // For inspection on the mux thread (tests).
    const std::vector<MuxClient>& clientRecords() const { return clients; }
    const std::unordered_map<Stream*, int>& clientPositions() const { return clientIndex; }

private:
    void flushOutboxes() REQUIRES(eventLock);
    void flushClient(MuxClient& client) REQUIRES(eventLock);
    void dropClient(MuxClient& client, const char* text);
    MuxClient* findClient(Stream* stream);
    // One decoded request; null when it went through, else the failure text.
    const char* request(MuxClient& client, Gob& gob) REQUIRES(conduit->lock);
    const char* startScan(MuxClient& client) REQUIRES(conduit->lock);
    const char* stopScan(MuxClient& client) REQUIRES(conduit->lock);
    const char* connect(MuxClient& client, Gob& gob) REQUIRES(conduit->lock);
    bool routeOne(const Gob& gob, MuxMessage& message) REQUIRES(eventLock);
    void releaseHeld(const std::set<BleAddress>& addresses, bool stopScan, const char* reason)
        EXCLUDES(eventLock);
    // Removes what a client that has gone still has queued on the conduit.
    void forgetQueued(uint64_t id) EXCLUDES(eventLock);
    bool isInited() EXCLUDES(stateLock);

    const std::string buildCommit; // the build stamp, for the log
    ListenAddress listenAddress{gobServerHost, gobDefaultPort};
    ThreadOwner muxThread;                     // the thread that last ran init or openWithoutServer
    Mutex stateLock;                           // leaf
    bool inited GUARDED_BY(stateLock) = false; // between a successful init and its close
    Stream* server = nullptr;
    std::vector<MuxClient> clients;
    std::unordered_map<Stream*, int> clientIndex; // position of each client's record
    Conduit* conduit = nullptr;
    // Guards `events` and, by rule, every outbox write (MuxClient cannot name it for the
    // analysis). Recursive, so that a post from inside routing cannot deadlock; the
    // analysis sees only the holds within one function.
    RecursiveMutex eventLock;
    std::list<Gob> events GUARDED_BY(eventLock); // posted, not yet routed; oldest first
    bool failed = false;                         // the server failed during this work step
    std::string failure;                         // the text of that failure

    std::vector<BleAddress> orphans;  // connected for nobody; disconnected after routing
    std::mutex restLock;              // for restWake; taken alone
    std::condition_variable restWake; // notified by wake
    uint64_t nextClientId = 1;        // the id of the next client added
};
