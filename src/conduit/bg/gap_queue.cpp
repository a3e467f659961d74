// The per-client count and removal, and the connect time limit, counted in 64 bits from
// the 16-bit interval on the wire.
#include "conduit/bg/gap_queue.h"

#include <algorithm>

size_t gapOpsOf(const std::list<GapOp>& queue, uint64_t requester) {
    return static_cast<size_t>(
        std::count_if(queue.begin(), queue.end(),
                      [requester](const GapOp& op) { return op.requester == requester; }));
}

void removeGapOpsOf(std::list<GapOp>& queue, uint64_t requester) {
    queue.remove_if([requester](const GapOp& op) {
        const bool ownLink = op.type == GapOpType::Connect || op.type == GapOpType::Disconnect;
        return op.requester == requester && !op.started && ownLink;
    });
}

uint64_t connectTimeLimitMs(uint32_t connIntervalMax) {
    const uint64_t sent = static_cast<uint16_t>(connIntervalMax);
    return ((sent * 5) >> 2) * 6 + 1000;
}

bool connectExpired(const GapOp& op, int64_t nowSeconds) {
    const int64_t elapsedMs = (nowSeconds - op.startTime) * 1000;
    return elapsedMs >= 0 &&
           static_cast<uint64_t>(elapsedMs) > connectTimeLimitMs(op.connIntervalMax);
}

const char* gapOpCompletedText(GapOpType type) {
    switch (type) {
    case GapOpType::StartScan:
        return "BG conduit: completed gap op start scan\n";
    case GapOpType::StopScan:
        return "BG conduit: completed gap op stop scan\n";
    case GapOpType::Connect:
        return "BG conduit: completed gap op connection\n";
    case GapOpType::Disconnect:
        return "BG conduit: completed gap op disconnect\n";
    case GapOpType::EndConnect:
        return "BG conduit: completed gap op end of abandoned connect\n";
    }
    return "";
}
