// Request dispatch: one request gob from a client becomes at most one conduit call.
//
// A request that cannot be decoded, a connect whose values are outside Bluetooth's
// ranges, or a request that the conduit refuses, ends the session of the client that
// sent it (its stream is closed and removeClient releases what it held);
// the other clients go on. Nothing is answered to the client.
//
// Threads: the mux thread, inside the stream layer's update. Locks: the conduit lock is
// held for the whole dispatch; eventLock is not held (the conduit may post events).
#include "mux/mux.h"

#include "conduit/conduit.h"
#include "gob/gob_requests.h"
#include "log/log.h"
#include "mux/connect_parameters.h"

#include <vector>

namespace {

void logGob(const Gob& gob) {
    if (gob.isBig()) {
        logPrint(LogStamp::With, "mux: received big gob\n");
        return;
    }
    logPrint(LogStamp::With, "mux: received gob: ");
    logHex(gob.storage(), gob.size());
    logPrint(LogStamp::Without, "\n");
}

// The result of one request: null when it went through, else the failure text.
const char* outcome(bool accepted, const char* refusal) {
    return accepted ? nullptr : refusal;
}

const char* findServices(Conduit& conduit, Gob& gob) REQUIRES(conduit.lock) {
    BleAddress address;
    if (codeGobFindServices(gob, address) != 0) {
        return "failed to get services gob";
    }
    return outcome(conduit.findServices(address), "conduit find services failed");
}

const char* findAttributes(Conduit& conduit, Gob& gob) REQUIRES(conduit.lock) {
    BleAddress address;
    std::vector<UuidRecord> uuids;
    if (codeGobFindAttributes(gob, address, uuids) != 0) {
        return gob.size() < gobTypeAndAddressSize ? "failed to get address from attributes gob"
                                                  : "failed to get uuid from attributes gob";
    }
    return outcome(conduit.findCharsAndDescs(address, uuids), "conduit find attributes failed");
}

const char* disconnect(Conduit& conduit, Gob& gob) REQUIRES(conduit.lock) {
    BleAddress address;
    if (codeGobDisconnect(gob, address) != 0) {
        return "failed to get disconnection gob";
    }
    return outcome(conduit.disconnect(address), "conduit disconnect failed");
}

const char* write(Conduit& conduit, Gob& gob) REQUIRES(conduit.lock) {
    BleAddress address;
    uint8_t index = 0;
    bool withResponse = false;
    const uint8_t* payload = nullptr;
    uint32_t payloadLength = 0;
    if (codeGobWrite(gob, address, index, withResponse, payload, payloadLength) != 0) {
        return "failed to get write gob";
    }
    return outcome(conduit.write(address, index, payload, payloadLength, withResponse),
                   "conduit write failed");
}

// Read, notify, indicate and unsubscribe: an address and a characteristic index.
using IndexCodec = int (*)(Gob&, BleAddress&, uint8_t&);
using IndexOperation = bool (Conduit::*)(const BleAddress&, uint8_t);

// The call through `operation` is beyond the analysis; the lock is held all the same.
const char* indexRequest(Conduit& conduit, Gob& gob, IndexCodec codec, IndexOperation operation,
                         const char* decodeFailure, const char* refusal) REQUIRES(conduit.lock) {
    BleAddress address;
    uint8_t index = 0;
    if (codec(gob, address, index) != 0) {
        return decodeFailure;
    }
    return outcome((conduit.*operation)(address, index), refusal);
}

const char* getRssi(Conduit& conduit, Gob& gob) REQUIRES(conduit.lock) {
    BleAddress address;
    if (codeGobGetRssi(gob, address) != 0) {
        return "failed to get rssi gob";
    }
    return outcome(conduit.getRssi(address), "conduit rssi failed");
}

} // namespace

void Mux::dispatch(Stream* stream, Gob& gob) {
    ASSERT_OWNING_THREAD(muxThread);
    // Conduit lock for the whole request, its log lines included. eventLock is not held.
    const LockGuard guard(conduit->lock);
    logGob(gob);
    MuxClient* client = findClient(stream);
    if (client == nullptr || client->dropped) {
        return;
    }
    conduit->requester = client->id;
    const char* error = request(*client, gob);
    conduit->requester = 0;
    if (error != nullptr) {
        dropClient(*client, error);
    }
}

const char* Mux::request(MuxClient& client, Gob& gob) {
    if (gob.size() == 0) {
        return "invalid gob received";
    }
    switch (gob.storage()[0]) {
    case GobStartScan:
        return startScan(client);
    case GobStopScan:
        return stopScan(client);
    case GobConnect:
        return connect(client, gob);
    case GobFindServices:
        return findServices(*conduit, gob);
    case GobFindAttributes:
        return findAttributes(*conduit, gob);
    case GobDisconnect:
        return disconnect(*conduit, gob);
    case GobRead:
        return indexRequest(*conduit, gob, codeGobRead, &Conduit::read, "failed to get read gob",
                            "conduit read failed");
    case GobWrite:
        return write(*conduit, gob);
    case GobNotify:
        return indexRequest(*conduit, gob, codeGobNotify, &Conduit::notify,
                            "failed to get notify gob", "conduit notify failed");
    case GobIndicate:
        return indexRequest(*conduit, gob, codeGobIndicate, &Conduit::indicate,
                            "failed to get indicate gob", "conduit indicate failed");
    case GobUnsubscribe:
        return indexRequest(*conduit, gob, codeGobUnsubscribe, &Conduit::unsubscribe,
                            "failed to get unsubscribe gob", "conduit unsubscribe failed");
    case GobGetRssi:
        return getRssi(*conduit, gob);
    default:
        return "invalid gob received";
    }
}

// The conduit scans while at least one client wants it: only the first asks it to.
const char* Mux::startScan(MuxClient& client) {
    if (anyScanning()) {
        client.scanning = true;
        return nullptr;
    }
    if (!conduit->startScan()) {
        return "conduit start scan failed";
    }
    client.scanning = true;
    return nullptr;
}

// ... and only the last one to stop asks it to stop.
const char* Mux::stopScan(MuxClient& client) {
    const bool wasScanning = client.scanning;
    client.scanning = false;
    if (!wasScanning || anyScanning()) {
        return nullptr;
    }
    return outcome(conduit->stopScan(), "conduit stop scan failed");
}

const char* Mux::connect(MuxClient& client, Gob& gob) {
    BleAddress address;
    uint32_t intervalMin = 0;
    uint32_t intervalMax = 0;
    uint32_t supervisionTimeout = 0;
    uint32_t slaveLatency = 0;
    if (codeGobConnect(gob, address, intervalMin, intervalMax, supervisionTimeout, slaveLatency) !=
        0) {
        return "failed to get connect gob";
    }
    if (!connectParametersValid(intervalMin, intervalMax, supervisionTimeout, slaveLatency)) {
        return "connect parameters out of range";
    }
    client.pendingConnects.insert(address);
    return outcome(
        conduit->connect(address, intervalMin, intervalMax, supervisionTimeout, slaveLatency),
        "conduit connect failed");
}
