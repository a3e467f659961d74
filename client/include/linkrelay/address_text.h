// Device addresses as people write them: "AA:BB:CC:DD:EE:FF", most significant byte
// first. On the wire a BleAddress keeps the dongle's order, which is the reverse: the
// first wire byte is the last pair of the text.
//
// Pure functions; safe on any thread.
#pragma once

#include "gob/ble_types.h"

#include <optional>
#include <string>
#include <string_view>

namespace linkrelay {

// Six pairs of hex digits (either case) separated by ':'; nothing else is accepted.
std::optional<BleAddress> parseAddress(std::string_view text);

// Upper-case hex digits, most significant byte first.
std::string formatAddress(const BleAddress& address);

} // namespace linkrelay
