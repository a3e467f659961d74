// Advertisers that fill a port quickly, for the tests of a host that stops reading.
#pragma once

#include "sim/peripheral.h"

#include <cstdint>
#include <vector>

namespace simtest {

// `count` peripherals, each advertising 31 bytes of data every 20 ms.
std::vector<sim::PeripheralSpec> chattyPeripherals(uint8_t count);

} // namespace simtest
