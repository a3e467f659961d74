// ConduitNotReady: a conduit without a dongle behind it. Its state is "not ready" for
// good, and every request is refused with the operation's not-ready line, so clients are
// told honestly (in their GobStatus) that no dongle is available.
//
// Threads: stateless apart from the base class; any thread may call it, under the
// conduit lock as every conduit is called.
#pragma once

#include "conduit/conduit.h"

class ConduitNotReady final : public Conduit {
public:
    explicit ConduitNotReady(Mux* mux) : Conduit(mux) {}
    ~ConduitNotReady() = default;
    ConduitNotReady(const ConduitNotReady&) = delete;
    ConduitNotReady& operator=(const ConduitNotReady&) = delete;

    int32_t getType() override;
    int32_t getState() override;
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
};
