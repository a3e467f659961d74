// Helpers for the gob tests: content as a vector, and a written gob turned around for
// reading.
#pragma once

#include "gob/gob.h"

#include <cstdint>
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
