// The ranges of a connect request's values.
#include "mux/connect_parameters.h"

namespace {

bool inRange(uint32_t value, uint32_t low, uint32_t high) {
    return value >= low && value <= high;
}

} // namespace

bool connectParametersValid(uint32_t connIntervalMin, uint32_t connIntervalMax,
                            uint32_t supervisionTimeout, uint32_t slaveLatency) {
    if (!inRange(connIntervalMin, minConnInterval, maxConnInterval) ||
        !inRange(connIntervalMax, minConnInterval, maxConnInterval) ||
        slaveLatency > maxSlaveLatency ||
        !inRange(supervisionTimeout, minSupervisionTimeout, maxSupervisionTimeout)) {
        return false;
    }
    // timeout × 10 ms > (1 + latency) × max × 1.25 ms × 2, both sides times 2/5.
    const uint64_t timeoutSide = uint64_t{supervisionTimeout} * 4;
    const uint64_t intervalSide = (uint64_t{1} + slaveLatency) * connIntervalMax;
    return timeoutSide > intervalSide;
}
