// Waiting for the system's thread count to settle after threads were joined.
#include "thread_count.h"

#include <chrono>
#include <thread>

int threadCountSettledAt(int expected) {
    constexpr int attempts = 200;
    int count = threadCount();
    for (int attempt = 0; attempt < attempts && count != expected; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        count = threadCount();
    }
    return count;
}
