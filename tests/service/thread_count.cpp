// Waiting for the system's thread count to settle after threads were joined.
#include "thread_count.h"

#include "wait_until.h"

#include <chrono>

int threadCountSettledAt(int expected) {
    harness::waitUntil([expected] { return threadCount() == expected; }, std::chrono::seconds(2));
    return threadCount();
}
