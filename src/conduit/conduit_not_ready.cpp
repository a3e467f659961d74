// ConduitNotReady: kind 1, state 2, every operation refused with its not-ready line.
#include "conduit/conduit_not_ready.h"

#include "log/log.h"

namespace {

constexpr int32_t dongleConduitKind = 1;

bool refuse(const char* operation) {
    logPrint(1, "BG conduit: %s called but not ready\n", operation);
    return false;
}

} // namespace

int32_t ConduitNotReady::getType() {
    return dongleConduitKind;
}

int32_t ConduitNotReady::getState() {
    return conduitStateNotReady;
}

bool ConduitNotReady::startScan() {
    return refuse("startScan");
}

bool ConduitNotReady::stopScan() {
    return refuse("stopScan");
}

bool ConduitNotReady::connect(const BleAddress& /*address*/, uint32_t /*connIntervalMin*/,
                              uint32_t /*connIntervalMax*/, uint32_t /*supervisionTimeout*/,
                              uint32_t /*slaveLatency*/) {
    return refuse("connect");
}

bool ConduitNotReady::findServices(const BleAddress& /*address*/) {
    return refuse("findServices");
}

bool ConduitNotReady::findCharsAndDescs(const BleAddress& /*address*/,
                                        const std::vector<UuidRecord>& /*uuids*/) {
    return refuse("findCharsAndDescs");
}

bool ConduitNotReady::disconnect(const BleAddress& /*address*/) {
    return refuse("disconnect");
}

bool ConduitNotReady::read(const BleAddress& /*address*/, uint8_t /*index*/) {
    return refuse("read");
}

bool ConduitNotReady::write(const BleAddress& /*address*/, uint8_t /*index*/,
                            const uint8_t* /*data*/, uint32_t /*length*/, bool /*withResponse*/) {
    return refuse("write");
}

bool ConduitNotReady::notify(const BleAddress& /*address*/, uint8_t /*index*/) {
    return refuse("notify");
}

bool ConduitNotReady::indicate(const BleAddress& /*address*/, uint8_t /*index*/) {
    return refuse("indicate");
}

bool ConduitNotReady::unsubscribe(const BleAddress& /*address*/, uint8_t /*index*/) {
    return refuse("unsubscribe");
}

bool ConduitNotReady::getRssi(const BleAddress& /*address*/) {
    return refuse("getRssi");
}
