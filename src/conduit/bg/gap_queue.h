// The GAP operation queue's records: GapOp, one queued scan start, scan stop, connect or
// disconnect, and the time limit after which a started connect is abandoned.
//
// The dongle runs one GAP procedure at a time, so ConduitBg keeps these in a FIFO list
// whose head alone is ever started (conduit_bg_gap.cpp).
//
// Threads: plain values and pure functions. ConduitBg keeps its queue under its conduit
// lock.
#pragma once

#include "gob/ble_types.h"

#include <cstddef>
#include <cstdint>
#include <list>

enum class GapOpType : int32_t {
    StartScan = 0,
    StopScan = 1,
    Connect = 2,
    Disconnect = 3,
    // gap_end_procedure after an abandoned Connect, so that the dongle leaves its
    // connecting state before the next operation starts.
    EndConnect = 4,
};

struct GapOp {
    explicit GapOp(GapOpType type, const BleAddress& address = {}) : type(type), address(address) {}

    GapOpType type;
    BleAddress address;              // Connect and Disconnect only
    uint32_t connIntervalMin = 0;    // Connect only, 1.25 ms units
    uint32_t connIntervalMax = 0;    // Connect only, 1.25 ms units
    uint32_t supervisionTimeout = 0; // Connect only, 10 ms units
    uint32_t slaveLatency = 0;       // Connect only, connection events
    uint64_t requester = 0;          // the client it was queued for; 0: the service
    bool started = false;            // sent to the dongle, waiting for its completion
    int64_t startTime = 0;           // Connect only: the clock's whole seconds when it was sent
};

// The most GAP operations one client may have in the queue; beyond, its request is
// refused. The service's own operations are not counted.
constexpr size_t maxGapOpsPerClient = 8;

// How many operations of the queue were queued for `requester`.
size_t gapOpsOf(const std::list<GapOp>& queue, uint64_t requester);

// Removes the operations queued for a client that has left, except one already started
// and the scan starts and stops, which carry the scan that the other clients share.
void removeGapOpsOf(std::list<GapOp>& queue, uint64_t requester);

// How long a started connect may wait for its connection: six of the maximum connection
// intervals that the dongle was given (the 16-bit field actually sent), plus one second.
uint64_t connectTimeLimitMs(uint32_t connIntervalMax);

// True when `op`, a started Connect, has waited longer than its limit at `nowSeconds`.
// The wait is counted in whole seconds of the same clock as its startTime.
bool connectExpired(const GapOp& op, int64_t nowSeconds);

// The log line of a completed operation of this type.
const char* gapOpCompletedText(GapOpType type);
