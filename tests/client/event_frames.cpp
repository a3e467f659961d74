// Framed event gobs for the fake service.
#include "event_frames.h"

#include "gob/gob_events.h"

Bytes statusFrame(int32_t conduitType, int32_t conduitState) {
    Gob gob;
    buildStatusGob(gob, static_cast<ConduitKind>(conduitType),
                   static_cast<ConduitState>(conduitState));
    return frameOf(gob);
}

Bytes scanResultFrame(const BleAddress& address, const Bytes& data, int8_t rssi) {
    Gob gob;
    buildScanResultGob(gob, address, data.data(), static_cast<uint32_t>(data.size()), rssi);
    return frameOf(gob);
}

Bytes connectedFrame(const BleAddress& address) {
    Gob gob;
    buildConnectedGob(gob, address);
    return frameOf(gob);
}

Bytes serviceFoundFrame(const BleAddress& address, uint8_t serviceIndex, const UuidRecord& uuid) {
    Gob gob;
    buildServiceFoundGob(gob, address, serviceIndex, uuid);
    return frameOf(gob);
}

Bytes characteristicFoundFrame(const BleAddress& address, uint8_t index, const UuidRecord& uuid) {
    Gob gob;
    buildCharacteristicFoundGob(gob, address, index, uuid);
    return frameOf(gob);
}

Bytes disconnectedFrame(const BleAddress& address, uint8_t reason) {
    Gob gob;
    buildDisconnectedGob(gob, address, reason);
    return frameOf(gob);
}

Bytes writeDoneFrame(const BleAddress& address) {
    Gob gob;
    buildWriteDoneGob(gob, address);
    return frameOf(gob);
}

Bytes attributeValueFrame(const BleAddress& address, uint8_t index, const Bytes& value) {
    Gob gob;
    buildAttributeValueGob(gob, address, index, value.data(), static_cast<uint32_t>(value.size()));
    return frameOf(gob);
}

Bytes rssiFrame(const BleAddress& address, int8_t rssi) {
    Gob gob;
    buildRssiGob(gob, address, rssi);
    return frameOf(gob);
}

UuidRecord shortUuid(uint16_t value) {
    UuidRecord uuid;
    uuid.bytes[0] = static_cast<uint8_t>(value >> 8);
    uuid.bytes[1] = static_cast<uint8_t>(value);
    uuid.length = 2;
    return uuid;
}
