// Scale and cost of the service program on the in-process simulated dongle:
// - time from process start to "BG conduit: ready";
// - wake-ups and CPU of the whole process while idle (dongle ready, no clients) over
//   10 s, beside a bare thread that blocks in a read with a 1 s timeout, as the conduit's
//   reader does (the only clock left in the idle service);
// - resident memory idle, with 100 and with 1,000 clients;
// - 1,000 clients connecting at once: time until every one has its GobStatus, beside a
//   bare accept loop with the same backlog.
//
// Threads: the calling thread; helper threads are joined inside each benchmark.
#pragma once

#include "bench_report.h"

void benchScaleAndCost(BenchReport& report);
