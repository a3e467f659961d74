// Feeding numbered events no further than a window ahead of the slowest receiver, so
// that no queue between producer and receivers grows without bound.
//
// Threads: runs on the producer's thread; reads the receiver's progress atomically.
#pragma once

#include "ordered_receiver.h"

#include <chrono>
#include <cstdint>
#include <functional>

// Calls produce(first, end) for consecutive ranges of at most `batch` numbers covering
// [0, count), each only once `end` is within `window` of receiver.lowest(). Stops early
// at `deadline`; returns how many numbers were produced.
uint64_t feedWindowed(const OrderedReceiver& receiver, uint64_t count, uint64_t window,
                      uint64_t batch, std::chrono::steady_clock::time_point deadline,
                      const std::function<void(uint64_t, uint64_t)>& produce);

// The 8-byte little-endian form of a sequence number (see payloadNumber).
void putNumber(uint64_t number, uint8_t* bytes);
