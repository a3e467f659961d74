// Helpers shared by the Mux's tests: the log captured in a file (test_log.h),
// addresses, and gobs turned around for reading.
//
// Threads: the log may be written by any thread; the helpers read it from the test's.
#pragma once

#include "gob/ble_types.h"
#include "gob/gob.h"
#include "test_log.h"

#include <cstddef>
#include <string>
#include <vector>

// An address whose six bytes are `first`, 2, 3, 4, 5, `last`.
BleAddress testAddress(uint8_t first, uint8_t last);

// The gob as a client's request arrives: a copy in reading mode, cursor 0.
Gob received(const Gob& gob);
// The gob's bytes without `count` bytes at the end, in reading mode.
Gob cutShort(const Gob& gob, uint32_t count);
// A gob of the given bytes, in reading mode.
Gob gobOf(const std::vector<uint8_t>& bytes);
// The bytes of a gob.
std::vector<uint8_t> bytesOf(const Gob& gob);
