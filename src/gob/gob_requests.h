// Codecs of the request gobs (types 0 to 11), sent by clients to the service.
//
// One function per type, serving both modes: in writing mode it appends the type byte
// and the fields taken from the arguments; in reading mode it checks the type byte and
// fills the arguments. Each returns 0 on success and -1 when a primitive fails. Bytes
// after the listed fields are ignored, except in GobFindAttributes and GobWrite.
// Pure functions of their arguments; safe on any thread.
#pragma once

#include "gob/ble_types.h"
#include "gob/gob.h"

#include <cstddef>
#include <cstdint>
#include <vector>

int codeGobStartScan(Gob& gob);
int codeGobStopScan(Gob& gob);

// The four values in BGAPI units: 1.25 ms, 1.25 ms, 10 ms, connection events.
int codeGobConnect(Gob& gob, BleAddress& address, uint32_t& connIntervalMin,
                   uint32_t& connIntervalMax, uint32_t& supervisionTimeout, uint32_t& slaveLatency);

int codeGobFindServices(Gob& gob, BleAddress& address);

// The most UUID entries of one GobFindAttributes: characteristic indexes are one byte, so
// no look-up can report more characteristics than this.
constexpr size_t maxFindAttributesUuids = 256;

// After the address, one byte that the reader passes over, then one or more UUID entries
// up to the end of the gob. Reading replaces the content of `uuids` with the entries in
// gob order, and fails when there is none, when an entry is cut short, when an entry's
// length is neither 2 nor 16, or when there are more than maxFindAttributesUuids entries.
// Writing fails on an empty list, on more entries than that, or on a bad length.
int codeGobFindAttributes(Gob& gob, BleAddress& address, std::vector<UuidRecord>& uuids);

int codeGobDisconnect(Gob& gob, BleAddress& address);
int codeGobRead(Gob& gob, BleAddress& address, uint8_t& index);

// The payload is every byte after withResponse. Reading: `payload` becomes a view into
// the gob (valid while it lives) and may be empty. Writing: appends `payloadLength`
// bytes from `payload`.
int codeGobWrite(Gob& gob, BleAddress& address, uint8_t& index, bool& withResponse,
                 const uint8_t*& payload, uint32_t& payloadLength);

int codeGobNotify(Gob& gob, BleAddress& address, uint8_t& index);
int codeGobIndicate(Gob& gob, BleAddress& address, uint8_t& index);
int codeGobUnsubscribe(Gob& gob, BleAddress& address, uint8_t& index);
int codeGobGetRssi(Gob& gob, BleAddress& address);
