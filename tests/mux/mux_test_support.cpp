// Helpers shared by the Mux's tests.
#include "mux_test_support.h"

#include <gtest/gtest.h>

namespace {

// Every test program of the Mux logs into its own file.
[[maybe_unused]] const testing::Environment* const logEnvironment =
    testing::AddGlobalTestEnvironment(new TestLogEnvironment("mux"));

} // namespace

BleAddress testAddress(uint8_t first, uint8_t last) {
    return BleAddress{{first, 2, 3, 4, 5, last}};
}

Gob received(const Gob& gob) {
    return Gob::forReading(gob.storage(), gob.size(), false);
}

Gob cutShort(const Gob& gob, uint32_t count) {
    return Gob::forReading(gob.storage(), gob.size() - count, false);
}

Gob gobOf(const std::vector<uint8_t>& bytes) {
    return Gob::forReading(bytes.data(), static_cast<uint32_t>(bytes.size()), false);
}

std::vector<uint8_t> bytesOf(const Gob& gob) {
    return {gob.storage(), gob.storage() + gob.size()};
}
