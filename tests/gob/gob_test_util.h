// Helpers for the gob tests: content as a vector, a written gob turned around for
// reading, byte runs joined, and UUID records from their bytes.
#pragma once

#include "gob/ble_types.h"
#include "gob/gob.h"

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <vector>

inline std::vector<uint8_t> contentOf(const Gob& gob) {
    return {gob.storage(), gob.storage() + gob.size()};
}

inline Gob readingCopy(const std::vector<uint8_t>& bytes) {
    return Gob::forReading(bytes.data(), static_cast<uint32_t>(bytes.size()), false);
}

inline Gob readingCopy(const Gob& gob) {
    return readingCopy(contentOf(gob));
}

inline std::vector<uint8_t> join(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> all;
    for (const auto& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

inline UuidRecord uuidOf(const std::vector<uint8_t>& bytes) {
    UuidRecord uuid;
    std::copy(bytes.begin(), bytes.end(), uuid.bytes.begin());
    uuid.length = static_cast<uint8_t>(bytes.size());
    return uuid;
}
