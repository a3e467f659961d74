// The one clock of the benchmarks: steady-clock nanoseconds, comparable between every
// thread of the bench process and its forked children.
#pragma once

#include <chrono>
#include <cstdint>

inline int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
