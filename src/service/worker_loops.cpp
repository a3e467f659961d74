// Worker loops. Until the Mux and the dongle conduit exist, each loop idles in steps as
// long as its real step will take (1 ms for a mux work step, 1000 ms for a reader
// cycle), so that start and stop behave as they will with the real work.
#include "service/worker_loops.h"

#include "service/daemon.h"

#include <chrono>
#include <thread>

namespace {

// A reader cycle waits up to 1000 ms for the dongle; it is woken early only by work.
constexpr auto readerCycle = std::chrono::milliseconds(1000);
constexpr auto muxStep = std::chrono::milliseconds(1);

} // namespace

void runMux(Daemon* daemon) {
    while (!daemon->stopping()) {
        std::this_thread::sleep_for(muxStep);
    }
}

void runReader(Daemon* daemon) {
    while (!daemon->stopping()) {
        std::this_thread::sleep_for(readerCycle);
    }
}
