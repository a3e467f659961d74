// The benchmarks of the dongle path: the service program on the in-process simulated
// dongle behind a real pty, its clients on real TCP; each beside the bare pty and TCP
// relay (floor_relay.h).
//
// - event latency: notification written by the dongle -> GobAttributeValue received;
// - request latency: GobRead sent -> read_by_handle received by the dongle;
// - notification throughput to 1 and to 100 clients, in order;
// - scan results fanned out to 100 scanning clients.
//
// Threads: the calling thread; the dongle and helper threads are started and joined
// inside each benchmark.
#pragma once

#include "bench_report.h"

void benchDonglePath(BenchReport& report);
