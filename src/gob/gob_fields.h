// Field helpers shared by the request and event codecs.
//
// Each serves both modes, like the primitives; 0 on success, -1 on failure.
#pragma once

#include "gob/ble_types.h"
#include "gob/gob.h"

// The 6 address bytes.
int codeAddress(Gob& gob, BleAddress& address);

// A gob of the given type that carries only an address.
int codeAddressGob(Gob& gob, GobType type, BleAddress& address);

// A gob of the given type that carries an address and one byte (index, reason, rssi).
int codeAddressByteGob(Gob& gob, GobType type, BleAddress& address, uint8_t& byte);

// A UUID as a length byte (2 or 16) and that many bytes. Reading fills the record from
// its first byte on and leaves the bytes beyond the length as they were.
int codeUuid(Gob& gob, UuidRecord& uuid);
