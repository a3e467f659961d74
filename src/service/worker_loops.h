// The bodies of the Daemon's two worker threads. Each loops until it finds the Daemon's
// stopRequested set, which it reads before every step.
#pragma once

class Daemon;

// The mux thread: serves the TCP clients.
void runMux(Daemon* daemon);

// The conduit (reader) thread: opens the dongle and handles everything it sends.
void runReader(Daemon* daemon);
