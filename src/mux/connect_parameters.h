// The ranges that Bluetooth allows for the values of a connect request. A request outside
// them is refused at dispatch, before it can reach the dongle and hold the GAP queue.
//
// Pure functions; safe on any thread.
#pragma once

#include <cstdint>

// Connection interval, 1.25 ms units: 7.5 ms to 4 s.
constexpr uint32_t minConnInterval = 6;
constexpr uint32_t maxConnInterval = 3200;
// Slave latency, connection events.
constexpr uint32_t maxSlaveLatency = 499;
// Supervision timeout, 10 ms units: 100 ms to 32 s.
constexpr uint32_t minSupervisionTimeout = 10;
constexpr uint32_t maxSupervisionTimeout = 3200;

// True when both intervals, the latency and the supervision timeout are in range, and the
// timeout in milliseconds is longer than (1 + latency) × interval max × 2.
bool connectParametersValid(uint32_t connIntervalMin, uint32_t connIntervalMax,
                            uint32_t supervisionTimeout, uint32_t slaveLatency);
