// The tests' one way to wait for something that happens on another thread or in another
// process: poll a condition until it holds, bounded by a time limit.
//
// Threads: `done` runs on the calling thread.
#pragma once

#include <chrono>
#include <functional>

namespace harness {

// Calls `done` every 5 ms until it returns true (true) or `timeout` has passed (false).
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

} // namespace harness
