// The context of a run for the report: date, machine, kernel, cores, load and the
// descriptor limit.
//
// Threads: the main thread.
#pragma once

#include "bench_report.h"

// Date, CPU model, core count, kernel, descriptor limit and the load `when`.
void describeMachine(BenchReport& report, const char* when);
// The load averages and the running/total task counts (/proc/loadavg), labelled `when`.
void describeLoad(BenchReport& report, const char* when);
