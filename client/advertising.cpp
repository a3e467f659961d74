// Decoding of advertising data.
#include "linkrelay/advertising.h"

#include <algorithm>

namespace linkrelay {

namespace {

// Appends the UUIDs of a list structure; the bytes of each arrive least significant
// first, while a UuidRecord holds them most significant first. False when the data is
// not a whole number of UUIDs.
bool appendUuids(std::span<const uint8_t> data, size_t width, std::vector<UuidRecord>& uuids) {
    if (data.size() % width != 0) {
        return false;
    }
    for (size_t at = 0; at < data.size(); at += width) {
        UuidRecord uuid;
        std::reverse_copy(data.begin() + static_cast<ptrdiff_t>(at),
                          data.begin() + static_cast<ptrdiff_t>(at + width), uuid.bytes.begin());
        uuid.length = static_cast<uint8_t>(width);
        uuids.push_back(uuid);
    }
    return true;
}

std::string textOf(std::span<const uint8_t> data) {
    return {data.begin(), data.end()};
}

// Stores one structure's data in `ad`; false when its length does not fit its type.
bool decodeStructure(uint8_t type, std::span<const uint8_t> data, AdvertisingData& ad) {
    switch (type) {
    case AdFlags:
        if (data.size() != 1) {
            return false;
        }
        ad.flags = data[0];
        return true;
    case AdIncompleteUuids16:
    case AdCompleteUuids16:
        return appendUuids(data, 2, ad.serviceUuids);
    case AdIncompleteUuids128:
    case AdCompleteUuids128:
        return appendUuids(data, 16, ad.serviceUuids);
    case AdShortName:
        ad.shortName = textOf(data);
        return true;
    case AdCompleteName:
        ad.completeName = textOf(data);
        return true;
    case AdTxPower:
        if (data.size() != 1) {
            return false;
        }
        ad.txPower = static_cast<int8_t>(data[0]);
        return true;
    case AdManufacturerData:
        if (data.size() < 2) {
            return false;
        }
        ad.manufacturerData.push_back(
            {static_cast<uint16_t>(data[0] | (data[1] << 8)), {data.begin() + 2, data.end()}});
        return true;
    default:
        return true;
    }
}

} // namespace

AdvertisingData decodeAdvertising(std::span<const uint8_t> data) {
    AdvertisingData ad;
    size_t at = 0;
    while (at < data.size()) {
        const size_t length = data[at];
        if (length == 0) {
            break;
        }
        if (at + 1 + length > data.size()) {
            ad.malformed = true;
            break;
        }
        const uint8_t type = data[at + 1];
        if (!decodeStructure(type, data.subspan(at + 2, length - 1), ad)) {
            ad.malformed = true;
        }
        at += 1 + length;
    }
    return ad;
}

} // namespace linkrelay
