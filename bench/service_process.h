// The real linkrelay program as a child process of the benchmark (started through the
// tests' process harness), on a given serial port, with its log in a folder of the
// benchmark's, plus what the benchmarks read of it from /proc: resident memory and CPU
// time.
//
// Also: waiting for port 9089 to be free (other test runs on the machine may hold it).
//
// Threads: each object belongs to the thread that made it.
#pragma once

#include "process_harness.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// The voluntary context switches of one thread so far, from its task folder
// (/proc/PID/task/TID); 0 when it cannot be read.
long voluntarySwitchesOf(const std::string& taskFolder);

// Waits until nothing listens on port 9089, up to `timeout`.
bool waitPortFree(std::chrono::milliseconds timeout);

class ServiceProcess {
public:
    // Starts `program` with `arguments`, standard error to `stderrPath`, the log folder
    // LOGS_DIRECTORY set to `logFolder`, and no systemd or D-Bus to talk to.
    ServiceProcess(const std::string& program, const std::vector<std::string>& arguments,
                   const std::string& stderrPath, const std::string& logFolder);
    // SIGTERM, then SIGKILL after 10 s; always by the child's pid.
    ~ServiceProcess();
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    bool started() const { return child.started(); }
    pid_t id() const { return child.id(); }
    // nowNs() just before the process was spawned.
    int64_t spawnedAt() const { return spawnTime; }
    // Checks standard error every `pollMs` for a line containing `text`; nowNs() when it
    // was first seen, nothing on timeout.
    std::optional<int64_t> waitLine(const std::string& text, std::chrono::milliseconds timeout,
                                    int pollMs = 1) const;
    // VmRSS in KiB; 0 when it cannot be read.
    long residentKb() const;
    // User plus system CPU time in seconds.
    double cpuSeconds() const;
    // The CPU time of all its threads in seconds, to the nanosecond (the first field of
    // each /proc/PID/task/TID/schedstat).
    double preciseCpuSeconds() const;
    // The voluntary context switches of all its threads so far: each is one wake-up of a
    // thread that had blocked (voluntary_ctxt_switches of /proc/PID/task/TID/status).
    long voluntarySwitches() const;

private:
    int64_t spawnTime = 0; // set before the child is spawned
    harness::ChildProcess child;
    std::string stderrPath;
};
