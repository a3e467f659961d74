// Advertising data, as a device sends it in an advertisement or scan response: a run of
// structures, each a length byte, a type byte and (length - 1) bytes of data. A length of
// 0 ends the significant part; what follows is padding.
//
// Pure functions; safe on any thread.
#pragma once

#include "gob/ble_types.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace linkrelay {

struct ManufacturerData {
    uint16_t companyId = 0;     // the first two data bytes, least significant first
    std::vector<uint8_t> bytes; // the data after the company identifier
};

struct AdvertisingData {
    std::optional<uint8_t> flags;
    std::optional<std::string> completeName;
    std::optional<std::string> shortName;
    // 16-bit and 128-bit service UUIDs, complete and incomplete lists, in the order sent.
    std::vector<UuidRecord> serviceUuids;
    std::vector<ManufacturerData> manufacturerData;
    std::optional<int8_t> txPower; // dBm
    // A structure ran past the end of the data, or a known type had a length that does
    // not fit it; the fields decoded before it are kept.
    bool malformed = false;

    // The complete name, else the shortened one, else nothing.
    std::optional<std::string> name() const { return completeName ? completeName : shortName; }
};

AdvertisingData decodeAdvertising(std::span<const uint8_t> data);

// Type bytes of the structures that decodeAdvertising reads; others are passed over.
enum AdvertisingType : uint8_t {
    AdFlags = 0x01,
    AdIncompleteUuids16 = 0x02,
    AdCompleteUuids16 = 0x03,
    AdIncompleteUuids128 = 0x06,
    AdCompleteUuids128 = 0x07,
    AdShortName = 0x08,
    AdCompleteName = 0x09,
    AdTxPower = 0x0A,
    AdManufacturerData = 0xFF,
};

} // namespace linkrelay
