// Bytes as hex text, for addresses, UUIDs and attribute values.
//
// Pure functions; safe on any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace linkrelay {

// Two hex digits of either case.
std::optional<uint8_t> parseHexByte(std::string_view digits);

// Two upper-case hex digits.
std::string formatHexByte(uint8_t byte);

// An even number of hex digits, optionally after "0x"; an empty run is an empty value.
std::optional<std::vector<uint8_t>> parseHexBytes(std::string_view text);

// Lower-case hex digits without separators ("0102ff").
std::string formatHexBytes(std::span<const uint8_t> bytes);

// True when every byte is a printable ASCII character (and there is at least one).
bool isPrintableText(std::span<const uint8_t> bytes);

} // namespace linkrelay
