// The Mux's client registry: adding and removing clients, their outboxes and the output
// bound, dropping one client, and releasing what clients held on the conduit.
//
// Threads: the mux thread only. Locks: outbox writes happen under eventLock (sendTo's
// caller holds it; addClient takes it). The conduit lock is taken only in releaseHeld and
// forgetQueued, never while eventLock is held.
#include "mux/mux.h"

#include "conduit/conduit.h"
#include "gob/gob_events.h"
#include "log/log.h"
#include "mux/gob_server.h"
#include "mux/mux_text.h"

#include <utility>

namespace {

// Longer lists of connections are logged as their length: listing every client at every
// arrival and removal would make the log quadratic in the number of clients.
constexpr std::size_t listedClientsBound = 64;

} // namespace

void Mux::logClients() const {
    ASSERT_OWNING_THREAD(muxThread);
    if (clients.empty()) {
        logPrint(LogStamp::With, "mux: no current connections\n");
        return;
    }
    if (clients.size() > listedClientsBound) {
        logPrint(LogStamp::With, "mux: current connections: %zu (list not shown above %zu)\n",
                 clients.size(), listedClientsBound);
        return;
    }
    logPrint(LogStamp::With, "mux: current connections\n");
    for (const MuxClient& client : clients) {
        logPrint(LogStamp::Without, MUX_STREAM_ID " \n", streamId(client.stream));
    }
}

bool Mux::anyScanning() const {
    ASSERT_OWNING_THREAD(muxThread);
    for (const MuxClient& client : clients) {
        if (client.scanning) {
            return true;
        }
    }
    return false;
}

void Mux::addClient(Stream* stream) {
    ASSERT_OWNING_THREAD(muxThread);
    logClients();
    logPrint(LogStamp::With, "mux: add " MUX_STREAM_ID "\n", streamId(stream));
    MuxClient client;
    client.id = nextClientId++;
    client.stream = stream;
    clients.push_back(std::move(client));
    clientIndex[stream] = static_cast<int>(clients.size() - 1);

    // Kind and state are atomic reads: no conduit lock.
    Gob status;
    buildStatusGob(status, conduit->getType(), conduit->getState());
    const LockGuard guard(eventLock);
    sendTo(clients.back(), status);
}

void Mux::removeClient(Stream* stream) {
    ASSERT_OWNING_THREAD(muxThread);
    const auto found = clientIndex.find(stream);
    if (found == clientIndex.end()) {
        logPrint(LogStamp::With, "mux: tried to remove nonexistant QAP\n");
        return;
    }
    logClients();
    logPrint(LogStamp::With, "mux: remove " MUX_STREAM_ID "\n", streamId(stream));
    const auto position = static_cast<std::size_t>(found->second);
    const std::set<BleAddress> held = std::move(clients[position].connected);
    const bool wasScanning = clients[position].scanning;
    const uint64_t id = clients[position].id;

    if (position != clients.size() - 1) {
        clients[position] = std::move(clients.back());
        clientIndex[clients[position].stream] = static_cast<int>(position);
    }
    clients.pop_back();
    clientIndex.erase(stream);

    forgetQueued(id);
    releaseHeld(held, wasScanning && !anyScanning(), "remove");
}

void Mux::forgetQueued(uint64_t id) {
    // Conduit lock; eventLock is not held by any caller.
    const LockGuard guard(conduit->lock);
    conduit->forgetRequester(id);
}

void Mux::releaseHeld(const std::set<BleAddress>& addresses, bool stopScan, const char* reason) {
    if (addresses.empty() && !stopScan) {
        return;
    }
    // Conduit lock; eventLock is not held by any caller. Results are not looked at:
    // nobody is left to tell.
    const LockGuard guard(conduit->lock);
    for (const BleAddress& address : addresses) {
        conduit->disconnect(address);
    }
    if (stopScan) {
        logPrint(LogStamp::With, "mux: stopping scan because of %s\n", reason);
        conduit->stopScan();
    }
}

bool Mux::sendTo(MuxClient& client, const Gob& gob) {
    ASSERT_OWNING_THREAD(muxThread);
    if (client.dropped) {
        return true;
    }
    client.outbox.push_back(gob);
    client.outboxBytes += gob.size();
    flushClient(client);
    return true;
}

void Mux::flushOutboxes() {
    for (MuxClient& client : clients) {
        if (!client.dropped) {
            flushClient(client);
        }
    }
}

void Mux::flushClient(MuxClient& client) {
    while (!client.outbox.empty() && serverSend(client.outbox.front(), client.stream) == 0) {
        client.outboxBytes -= client.outbox.front().size();
        client.outbox.pop_front();
    }
    if (client.outboxBytes + serverUnsent(client.stream) > muxClientOutputBound) {
        dropClient(client, "unsent output above 8 MiB");
    }
}

void Mux::dropClient(MuxClient& client, const char* text) {
    if (client.dropped) {
        return;
    }
    logPrint(LogStamp::With, "mux: client " MUX_STREAM_ID " failed: %s\n", streamId(client.stream),
             text);
    client.dropped = true;
    client.outbox.clear();
    client.outboxBytes = 0;
    // Its Destroy follows in the next update, and removeClient releases what it held.
    serverDrop(client.stream);
}

MuxClient* Mux::findClient(Stream* stream) {
    const auto found = clientIndex.find(stream);
    if (found == clientIndex.end()) {
        return nullptr;
    }
    return &clients[static_cast<std::size_t>(found->second)];
}

void Mux::badFrame(Stream* stream) {
    ASSERT_OWNING_THREAD(muxThread);
    MuxClient* client = findClient(stream);
    if (client != nullptr) {
        dropClient(*client, "invalid gob received");
    }
}

void Mux::stalledFrame(Stream* stream) {
    MuxClient* client = findClient(stream);
    if (client != nullptr) {
        dropClient(*client, "frame not completed in time");
    }
}
