// A Conduit for the Mux's tests: it records every call as a line of text, refuses the
// operations it is told to refuse, and posts events to the Mux as a real conduit does
// (under its own lock, through Mux::postEvent).
//
// Threads: operations run on the mux thread under the conduit lock (the Mux takes it);
// the test thread reads the record and posts events through the methods below, which
// take the same lock.
#pragma once

#include "conduit/conduit.h"
#include "gob/gob.h"

#include <atomic>
#include <functional>
#include <set>
#include <string>
#include <vector>

// "0102030405ff": the address as the calls record it.
std::string addressText(const BleAddress& address);

class RecordingConduit final : public Conduit {
public:
    explicit RecordingConduit(EventSink* sink) : Conduit(sink) {}
    ~RecordingConduit() = default;
    RecordingConduit(const RecordingConduit&) = delete;
    RecordingConduit& operator=(const RecordingConduit&) = delete;

    // Every operation called so far, in order, e.g. "connect 010203040506 6 12 100 0".
    std::vector<std::string> calls();
    // The requester of each of those calls, in the same order.
    std::vector<uint64_t> requesters();
    // The clients whose queued work forgetRequester was asked to remove, in order.
    std::vector<uint64_t> forgotten();
    // The named operation ("read", "connect", ...) returns false from now on.
    void refuse(const std::string& operation);
    // Posts `gob` as the conduit's reader thread does: under the conduit lock.
    void post(const Gob& gob);

    // disconnect posts a GobDisconnected with reason 0, as the dongle conduit does.
    std::atomic<bool> postDisconnected{false};
    // `action` runs inside every later operation on the calling thread, after the call
    // is recorded; an empty one runs nothing.
    void setOnCall(std::function<void()> action);
    std::atomic<ConduitState> state{ConduitState::Ready};

    ConduitKind getType() override { return ConduitKind::Dongle; }
    ConduitState getState() override { return state.load(); }
    bool startScan() override;
    bool stopScan() override;
    bool connect(const BleAddress& address, uint32_t connIntervalMin, uint32_t connIntervalMax,
                 uint32_t supervisionTimeout, uint32_t slaveLatency) override;
    bool findServices(const BleAddress& address) override;
    bool findCharsAndDescs(const BleAddress& address,
                           const std::vector<UuidRecord>& uuids) override;
    bool disconnect(const BleAddress& address) override;
    bool read(const BleAddress& address, uint8_t index) override;
    bool write(const BleAddress& address, uint8_t index, const uint8_t* data, uint32_t length,
               bool withResponse) override;
    bool notify(const BleAddress& address, uint8_t index) override;
    bool indicate(const BleAddress& address, uint8_t index) override;
    bool unsubscribe(const BleAddress& address, uint8_t index) override;
    bool getRssi(const BleAddress& address) override;
    void forgetRequester(uint64_t client) override;

private:
    // Records `line` and answers whether `operation` is accepted.
    bool record(const std::string& operation, const std::string& line);

    std::vector<std::string> recorded; // guarded by the conduit lock
    std::vector<uint64_t> callers;     // guarded by the conduit lock
    std::vector<uint64_t> forgot;      // guarded by the conduit lock
    std::set<std::string> refused;     // guarded by the conduit lock
    std::function<void()> onCall;      // guarded by the conduit lock
};
