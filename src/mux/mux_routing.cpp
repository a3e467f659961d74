// Event routing: the conduit's event gobs are queued by postEvent and handed out by the
// work step to the clients that should see them, by type, scanning flag and address
// ownership.
//
// Threads: postEvent runs on any thread (the conduit's reader thread, or the mux thread
// inside a conduit call); routeEvents and releaseOrphans on the mux thread.
// Locks: postEvent takes eventLock, then the leaf stateLock; it wakes the mux thread (the
// stream layer's leaf wake-up lock) after releasing both. routeEvents runs with
// eventLock held by the work step; releaseOrphans takes the conduit lock with eventLock
// released, keeping the order conduit lock before eventLock.
#include "mux/mux.h"

#include "conduit/conduit.h"
#include "log/log.h"
#include "mux/mux_text.h"

#include <algorithm>

namespace {

BleAddress addressOf(const Gob& gob) {
    BleAddress address;
    std::copy_n(gob.storage() + 1, address.bytes.size(), address.bytes.begin());
    return address;
}

enum class Route { Everyone, Scanners, Connection, Disconnection, Holders, Invalid };

Route routeOf(const Gob& gob) {
    if (gob.size() == 0) {
        return Route::Invalid;
    }
    switch (gob.storage()[0]) {
    case GobStatus:
        return Route::Everyone;
    case GobScanResult:
        return Route::Scanners;
    case GobConnected:
        return Route::Connection;
    case GobDisconnected:
        return Route::Disconnection;
    case GobServiceFound:
    case GobCharacteristicFound:
    case GobWriteDone:
    case GobAttributeValue:
    case GobRssi:
        return Route::Holders;
    default:
        return Route::Invalid;
    }
}

} // namespace

void Mux::postEvent(const Gob& gob) {
    {
        const LockGuard guard(eventLock);
        // Events posted while the Mux is down would reach the next session's clients stale.
        if (!isInited()) {
            return;
        }
        events.push_back(gob);
    }
    // After the event is queued: the woken thread routes it in its next step.
    streamWake();
}

int Mux::routeEvents(MuxMessage& message) {
    ASSERT_OWNING_THREAD(muxThread);
    for (const Gob& gob : events) {
        if (!routeOne(gob, message)) {
            return -1;
        }
    }
    events.clear();
    return 0;
}

bool Mux::routeOne(const Gob& gob, MuxMessage& message) {
    const Route route = routeOf(gob);
    bool reached = false;
    for (MuxClient& client : clients) {
        switch (route) {
        case Route::Everyone:
            sendTo(client, gob);
            break;
        case Route::Scanners:
            if (client.scanning) {
                sendTo(client, gob);
            }
            break;
        case Route::Connection:
            logPrint(LogStamp::With, "mux: sending connection gob\n");
            if (gob.size() < gobTypeAndAddressSize) {
                setMessage(message, "couldn't get address from connection gob");
                return false;
            }
            if (client.pendingConnects.erase(addressOf(gob)) != 0) {
                client.connected.insert(addressOf(gob));
                sendTo(client, gob);
                reached = true;
            }
            break;
        case Route::Disconnection:
            logPrint(LogStamp::With, "mux: sending disconnection gob\n");
            if (gob.size() < gobTypeAndAddressSize) {
                setMessage(message, "couldn't get address from disconnection gob");
                return false;
            }
            client.connected.erase(addressOf(gob));
            sendTo(client, gob);
            break;
        case Route::Holders:
            logPrint(LogStamp::With, "mux: sending standard gob\n");
            if (gob.size() < gobTypeAndAddressSize) {
                setMessage(message, "couldn't get address from standard gob");
                return false;
            }
            if (client.connected.count(addressOf(gob)) != 0) {
                sendTo(client, gob);
            }
            break;
        case Route::Invalid:
            logPrint(LogStamp::With, "mux: invalid gob received\n");
            break;
        }
    }
    // A connection nobody asked for any more would hold a dongle slot for nobody.
    if (route == Route::Connection && !reached && gob.size() >= gobTypeAndAddressSize) {
        orphans.push_back(addressOf(gob));
    }
    return true;
}

void Mux::releaseOrphans() {
    ASSERT_OWNING_THREAD(muxThread);
    if (orphans.empty()) {
        return;
    }
    // Conduit lock; the caller has released eventLock.
    const LockGuard guard(conduit->lock);
    for (const BleAddress& address : orphans) {
        logPrint(LogStamp::With, "mux: disconnecting device connected for no client: ");
        logHex(address.bytes.data(), static_cast<uint32_t>(address.bytes.size()));
        logPrint(LogStamp::Without, "\n");
        conduit->disconnect(address);
    }
    orphans.clear();
}
