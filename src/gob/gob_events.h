// Codecs and builders of the event gobs (types 128 to 136), sent by the service to
// clients.
//
// The codecs serve both modes like the request codecs: 0 on success, -1 when a
// primitive fails. The builders make one event gob from its fields in writing mode, for
// the conduit's event posting and the mux's status; each appends to `gob`, which must be
// a new, empty gob, and returns 0, or -1 (with `gob` to be dropped) when a field does not
// fit its layout. Pure functions of their arguments; safe on any thread.
#pragma once

#include "gob/ble_types.h"
#include "gob/gob.h"

#include <array>
#include <cstdint>

// A field coded as a length byte and that many bytes: advertising data, attribute values.
struct GobByteField {
    uint8_t length = 0;
    std::array<uint8_t, 255> bytes{};
};

// The conduit's kind and state travel as one byte each. Reading fails unless the gob is
// exactly 4 bytes long and its version byte is GOB_PROTOCOL_VERSION.
int codeGobStatus(Gob& gob, int32_t& conduitType, int32_t& conduitState);
// `rssi` is the signed dBm value as a byte.
int codeGobScanResult(Gob& gob, BleAddress& address, GobByteField& data, uint8_t& rssi);
int codeGobConnected(Gob& gob, BleAddress& address);
// A UUID length other than 2 or 16 fails in both modes.
int codeGobServiceFound(Gob& gob, BleAddress& address, uint8_t& serviceIndex, UuidRecord& uuid);
int codeGobCharacteristicFound(Gob& gob, BleAddress& address, uint8_t& index, UuidRecord& uuid);
int codeGobDisconnected(Gob& gob, BleAddress& address, uint8_t& reason);
int codeGobWriteDone(Gob& gob, BleAddress& address);
int codeGobAttributeValue(Gob& gob, BleAddress& address, uint8_t& index, GobByteField& value);
int codeGobRssi(Gob& gob, BleAddress& address, uint8_t& rssi);

int buildStatusGob(Gob& gob, ConduitKind conduitType, ConduitState conduitState);
// Fails when `dataLength` is above 255.
int buildScanResultGob(Gob& gob, const BleAddress& address, const uint8_t* data,
                       uint32_t dataLength, int8_t rssi);
int buildConnectedGob(Gob& gob, const BleAddress& address);
int buildServiceFoundGob(Gob& gob, const BleAddress& address, uint8_t serviceIndex,
                         const UuidRecord& uuid);
int buildCharacteristicFoundGob(Gob& gob, const BleAddress& address, uint8_t index,
                                const UuidRecord& uuid);
int buildDisconnectedGob(Gob& gob, const BleAddress& address, uint8_t reason);
int buildWriteDoneGob(Gob& gob, const BleAddress& address);
// Fails when `valueLength` is above 255.
int buildAttributeValueGob(Gob& gob, const BleAddress& address, uint8_t index, const uint8_t* value,
                           uint32_t valueLength);
int buildRssiGob(Gob& gob, const BleAddress& address, int8_t rssi);
