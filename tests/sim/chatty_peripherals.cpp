// Advertisers that fill a port quickly. See chatty_peripherals.h.
#include "chatty_peripherals.h"

namespace simtest {

std::vector<sim::PeripheralSpec> chattyPeripherals(uint8_t count) {
    std::vector<sim::PeripheralSpec> out;
    for (uint8_t i = 0; i < count; ++i) {
        sim::PeripheralSpec profile;
        profile.address = {i, 0x11, 0x22, 0x33, 0x44, 0x55};
        profile.advData = std::vector<uint8_t>(31, static_cast<uint8_t>(0x40 + i));
        profile.advData[0] = 30;
        profile.advIntervalMs = 20;
        out.push_back(profile);
    }
    return out;
}

} // namespace simtest
