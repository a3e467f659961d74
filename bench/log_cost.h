// What the log costs on disk: bytes written per notification per client, and for the
// connect of the 1,000th client, by a Mux in this process logging as the service does
// (standard error and a log file; the figures count one copy).
//
// Threads: the calling thread drives the clients; the Mux runs on a thread of its own.
#pragma once

#include "bench_report.h"

void benchLogCost(BenchReport& report);
