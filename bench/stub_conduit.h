// StubConduit: a conduit with no dongle behind it, for driving the Mux alone. It is
// always ready; a connect is answered at once with GobConnected, a scan start is taken,
// and everything else is refused.
//
// Threads: called by the Mux on the mux thread with the conduit lock held, like any
// conduit; it posts only from inside those calls.
#pragma once

#include "conduit/conduit.h"

class StubConduit final : public Conduit {
public:
    explicit StubConduit(EventSink* sink) : Conduit(sink) {}
    ~StubConduit() = default;
    StubConduit(const StubConduit&) = delete;
    StubConduit& operator=(const StubConduit&) = delete;

    ConduitKind getType() override { return ConduitKind::Dongle; }
    ConduitState getState() override { return ConduitState::Ready; }
    bool startScan() override { return true; }
    bool stopScan() override { return true; }
    bool connect(const BleAddress& address, uint32_t connIntervalMin, uint32_t connIntervalMax,
                 uint32_t supervisionTimeout, uint32_t slaveLatency) override;
    bool findServices(const BleAddress&) override { return false; }
    bool findCharsAndDescs(const BleAddress&, const std::vector<UuidRecord>&) override {
        return false;
    }
    bool disconnect(const BleAddress&) override { return true; }
    bool read(const BleAddress&, uint8_t) override { return false; }
    bool write(const BleAddress&, uint8_t, const uint8_t*, uint32_t, bool) override {
        return false;
    }
    bool notify(const BleAddress&, uint8_t) override { return false; }
    bool indicate(const BleAddress&, uint8_t) override { return false; }
    bool unsubscribe(const BleAddress&, uint8_t) override { return false; }
    bool getRssi(const BleAddress&) override { return false; }
};
