// Worker loops. The mux thread runs the Mux's loop on the Daemon's Mux and conduit.
// Until the dongle conduit exists, the reader loop idles in steps as long as a reader
// cycle will take (1000 ms), so that start and stop behave as they will with the real
// work.
#include "service/worker_loops.h"

#include "mux/run_mux.h"
#include "service/daemon.h"

#include <chrono>
#include <thread>

namespace {

// A reader cycle waits up to 1000 ms for the dongle; it is woken early only by work.
constexpr auto readerCycle = std::chrono::milliseconds(1000);

} // namespace

void runMux(Daemon* daemon) {
    runMuxLoop(daemon->mux, daemon->conduit, [daemon] { return daemon->stopping(); });
}

void runReader(Daemon* daemon) {
    while (!daemon->stopping()) {
        std::this_thread::sleep_for(readerCycle);
    }
}
