// Conduit: the BLE backend that the Mux drives, seen from the Mux.
//
// The Mux decodes each client request and calls at most one operation. An operation
// refuses at once (false) or starts the work and returns true; results come back later
// as finished event gobs (types 128 to 136) handed to the event sink (the Mux) through
// EventSink::postEvent. Nothing here blocks until a device answers.
//
// Threads and locks: `lock` is the conduit lock. The Mux holds it around every call it
// makes (mux thread); the conduit's reader thread holds it while it handles the dongle
// and posts events. Operations run with the lock held and never take it again. getType
// and getState need no lock; `requester` is under it. Lock order, everywhere: the
// conduit lock first, then the Mux's eventLock; postEvent never calls back into the
// conduit.
//
// Ownership: `mux`, the event sink, is set once by the constructor and never owned. The
// concrete conduit is owned and destroyed through its own type, hence the protected
// destructor.
#pragma once

#include "base/locks.h"
#include "conduit/event_sink.h"
#include "gob/ble_types.h"
#include "gob/gob_protocol.h"

#include <cstdint>
#include <vector>

class Conduit {
public:
    explicit Conduit(EventSink* mux) : mux(mux) {}
    Conduit(const Conduit&) = delete;
    Conduit& operator=(const Conduit&) = delete;

    // Slot 0: the conduit kind.
    virtual ConduitKind getType() = 0;
    // Slot 1: the state word, read atomically.
    virtual ConduitState getState() = 0;
    // Slots 2 and 3: results are GobScanResult events until stopped.
    virtual bool startScan() REQUIRES(lock) = 0;
    virtual bool stopScan() REQUIRES(lock) = 0;
    // Slot 4: the four values in BGAPI units, passed unchanged to the dongle. Result:
    // GobConnected, or nothing when the attempt is abandoned.
    virtual bool connect(const BleAddress& address, uint32_t connIntervalMin,
                         uint32_t connIntervalMax, uint32_t supervisionTimeout,
                         uint32_t slaveLatency) REQUIRES(lock) = 0;
    // Slot 5: one GobServiceFound per primary service.
    virtual bool findServices(const BleAddress& address) REQUIRES(lock) = 0;
    // Slot 6: `uuids` holds at least one record; one GobCharacteristicFound per match.
    virtual bool findCharsAndDescs(const BleAddress& address, const std::vector<UuidRecord>& uuids)
        REQUIRES(lock) = 0;
    // Slot 7: GobDisconnected.
    virtual bool disconnect(const BleAddress& address) REQUIRES(lock) = 0;
    // Slot 8: GobAttributeValue.
    virtual bool read(const BleAddress& address, uint8_t index) REQUIRES(lock) = 0;
    // Slot 9: GobWriteDone. `data` is valid only during the call; the conduit copies it.
    virtual bool write(const BleAddress& address, uint8_t index, const uint8_t* data,
                       uint32_t length, bool withResponse) REQUIRES(lock) = 0;
    // Slots 10 to 12: GobWriteDone; after notify and indicate, GobAttributeValue events.
    virtual bool notify(const BleAddress& address, uint8_t index) REQUIRES(lock) = 0;
    virtual bool indicate(const BleAddress& address, uint8_t index) REQUIRES(lock) = 0;
    virtual bool unsubscribe(const BleAddress& address, uint8_t index) REQUIRES(lock) = 0;
    // Slot 13: GobRssi.
    virtual bool getRssi(const BleAddress& address) REQUIRES(lock) = 0;

    // Removes what a client that has left still has queued: its GAP operations not yet
    // started and its requests waiting for a busy device. Work already started ends
    // normally.
    virtual void forgetRequester(uint64_t client) REQUIRES(lock) { static_cast<void>(client); }

    // The conduit lock. Recursive: the dongle conduit's init holds it while it runs reader
    // cycles, which take it again. The analysis cannot express "may already be held", so
    // the reader's entries that take it carry no EXCLUDES(lock).
    RecursiveMutex lock;
    EventSink* const mux; // the sink for events (the Mux); not owned
    // The client the operation being called is for, as the Mux numbers its clients; 0 for
    // the service's own calls (releasing what a client held, orphans). Set by the Mux
    // around each request, under `lock`; queued work keeps it.
    uint64_t requester GUARDED_BY(lock) = 0;

protected:
    ~Conduit() = default;
};
