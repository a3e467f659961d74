// Service and characteristic UUIDs in their usual text forms: a 16-bit UUID as four hex
// digits ("180d", also "0x180d"), a 128-bit UUID as 8-4-4-4-12 hex digits
// ("0000180d-0000-1000-8000-00805f9b34fb", also written without the dashes). A 16-bit
// UUID stands for the 128-bit one that puts it into the Bluetooth base UUID.
//
// Pure functions; safe on any thread.
#pragma once

#include "gob/ble_types.h"

#include <optional>
#include <string>
#include <string_view>

namespace linkrelay {

// A record of length 2 or 16, most significant byte first, as the gobs carry it.
std::optional<UuidRecord> parseUuid(std::string_view text);

// Lower-case: four digits for a 16-bit UUID, the dashed form for a 128-bit one.
std::string formatUuid(const UuidRecord& uuid);

// The 128-bit form of any record: a 16-bit UUID placed into the base UUID.
UuidRecord fullUuid(const UuidRecord& uuid);

// True when both name the same UUID, whatever their lengths.
bool sameUuid(const UuidRecord& first, const UuidRecord& second);

} // namespace linkrelay
