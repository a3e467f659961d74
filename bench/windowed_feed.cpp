// Windowed feeding. See windowed_feed.h.
#include "windowed_feed.h"

#include <algorithm>
#include <thread>

uint64_t feedWindowed(const OrderedReceiver& receiver, uint64_t count, uint64_t window,
                      uint64_t batch, std::chrono::steady_clock::time_point deadline,
                      const std::function<void(uint64_t, uint64_t)>& produce) {
    uint64_t next = 0;
    while (next < count && std::chrono::steady_clock::now() < deadline) {
        const uint64_t end = std::min(count, next + batch);
        if (end > receiver.lowest() + window) {
            std::this_thread::sleep_for(std::chrono::microseconds(50));
            continue;
        }
        produce(next, end);
        next = end;
    }
    return next;
}

void putNumber(uint64_t number, uint8_t* bytes) {
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<uint8_t>(number >> (8 * i));
    }
}
