// Helpers shared by the Mux's tests: the log captured in a file of a temporary folder,
// addresses, and gobs turned around for reading.
//
// Threads: the log may be written by any thread; the helpers read it from the test's.
#pragma once

#include "gob/ble_types.h"
#include "gob/gob.h"

#include <cstddef>
#include <string>
#include <vector>

// Opens the process log in a fresh temporary folder for the whole test program.
void openTestLog();

// Where the log file ends now: a mark for logSince.
std::size_t logMark();
// Everything logged after `mark`.
std::string logSince(std::size_t mark);
// True when `texts` appear in the log after `mark` in this order.
bool logHasInOrder(std::size_t mark, const std::vector<std::string>& texts);
// How often `text` appears in the log after `mark`.
int logCount(std::size_t mark, const std::string& text);

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
