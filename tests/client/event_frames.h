// Framed event gobs for the fake service, built with the service's own gob builders.
#pragma once

#include "fake_gob_server.h"
#include "gob/ble_types.h"

#include <string>

Bytes statusFrame(int32_t conduitType, int32_t conduitState);
Bytes scanResultFrame(const BleAddress& address, const Bytes& data, int8_t rssi);
Bytes connectedFrame(const BleAddress& address);
Bytes serviceFoundFrame(const BleAddress& address, uint8_t serviceIndex, const UuidRecord& uuid);
Bytes characteristicFoundFrame(const BleAddress& address, uint8_t index, const UuidRecord& uuid);
Bytes disconnectedFrame(const BleAddress& address, uint8_t reason);
Bytes writeDoneFrame(const BleAddress& address);
Bytes attributeValueFrame(const BleAddress& address, uint8_t index, const Bytes& value);
Bytes rssiFrame(const BleAddress& address, int8_t rssi);

// A 16-bit UUID record, for brevity.
UuidRecord shortUuid(uint16_t value);
