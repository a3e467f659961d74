// The floors: the same bytes moved with nothing of the service in between.
//
// - Throughput: numbered GobAttributeValue frames written in batches over bare loopback
//   TCP connections (one writer thread, one socket per receiver) and received in order
//   by an OrderedReceiver, as the service's clients receive them.
// - Latency (see pty_floor.h for the paths that include a pseudo-terminal).
//
// Threads: the caller receives; a writer thread of its own writes.
#pragma once

#include "ordered_receiver.h"

#include <cstdint>

// Listens on an ephemeral loopback port; -1 on failure. `port` receives the number.
int listenLoopback(uint16_t& port);
// Accepts one connection (blocking, bounded by 5 s); -1 on failure.
int acceptOne(int listener);

// Gobs per second delivered over `clients` bare connections: `count` numbered events to
// each, at most `window` in flight.
ReceiveOutcome bareTcpThroughput(int clients, uint64_t count, uint64_t window);
