// SimRunner: a simulated dongle on a thread of its own, in real time, behind a SimPort.
// This is what `linkrelay --simulate` runs: the service's serial seam wraps port().
//
// Threads: the runner's thread is the only one that touches the device; it starts in
// the constructor and ends in the destructor. Other threads reach the device through
// call() (runs work there and waits for it) and control(); neither may be called from
// the runner's own thread. mutex guards woken and stopRequested; the thread never holds it
// while it runs the device or touches the port, so the port's and the task queue's
// calls into wake() cannot deadlock with it.
#pragma once

#include "sim/device_tasks.h"
#include "sim/sim_device.h"
#include "sim/sim_port.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace sim {

class SimRunner {
public:
    SimRunner(SimConfig config, std::vector<PeripheralSpec> peripherals);
    ~SimRunner();
    SimRunner(const SimRunner&) = delete;
    SimRunner& operator=(const SimRunner&) = delete;

    SimPort& port() { return simPort; }

    // Runs work(device, now) on the device thread and returns its result.
    template <typename Work> auto call(Work work) { return taskQueue.call(std::move(work)); }

    // Runs one control command (sim_control.h) and returns its reply.
    std::string control(std::string_view line);

private:
    void wake();
    void run();
    SimTime elapsed() const;

    const std::chrono::steady_clock::time_point startTime;
    std::mutex mutex;
    std::condition_variable wakeUp;
    bool woken = false;
    bool stopRequested = false;
    DeviceTasks taskQueue;
    SimPort simPort;
    SimDevice simDevice;
    std::thread workerThread; // last: starts once everything above exists
};

} // namespace sim
