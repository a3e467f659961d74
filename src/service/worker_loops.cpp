// Worker loops. The mux thread runs the Mux's loop on the Daemon's Mux and conduit; the
// conduit thread runs the dongle conduit's reader loop.
#include "service/worker_loops.h"

#include "mux/run_mux.h"
#include "service/daemon.h"

void runMux(Daemon* daemon) {
    runMuxLoop(daemon->mux, daemon->conduit, [daemon] { return daemon->stopping(); });
}

void runReader(Daemon* daemon) {
    daemon->conduit.runReaderLoop([daemon] { return daemon->stopping(); });
}
