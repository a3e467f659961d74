// Device addresses to and from their text form.
#include "linkrelay/address_text.h"

#include "linkrelay/bytes_text.h"

namespace linkrelay {

namespace {

constexpr size_t addressTextLength = 17; // six pairs and five colons

} // namespace

std::optional<BleAddress> parseAddress(std::string_view text) {
    if (text.size() != addressTextLength) {
        return std::nullopt;
    }
    BleAddress address;
    for (size_t pair = 0; pair < 6; ++pair) {
        const size_t at = pair * 3;
        if (pair < 5 && text[at + 2] != ':') {
            return std::nullopt;
        }
        const std::optional<uint8_t> byte = parseHexByte(text.substr(at, 2));
        if (!byte) {
            return std::nullopt;
        }
        address.bytes[5 - pair] = *byte;
    }
    return address;
}

std::string formatAddress(const BleAddress& address) {
    std::string text;
    for (size_t pair = 0; pair < 6; ++pair) {
        if (pair > 0) {
            text += ':';
        }
        text += formatHexByte(address.bytes[5 - pair]);
    }
    return text;
}

} // namespace linkrelay
