// Throughput of the Mux alone: numbered GobAttributeValue events posted straight to a
// Mux in this process (a StubConduit behind it, no dongle) and received in order by
// 1 and by 100 TCP clients; beside it, the same frames written over bare loopback TCP.
//
// Threads: the calling thread receives; the Mux runs on a thread of its own and a
// poster thread feeds it, at most a window of events ahead of the slowest client.
#pragma once

#include "bench_report.h"

void benchMuxAlone(BenchReport& report);
