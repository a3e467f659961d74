// The simulated dongle on its own thread. See sim_runner.h.
#include "sim/sim_runner.h"

#include "sim/sim_control.h"

namespace sim {

SimRunner::SimRunner(SimConfig config, std::vector<PeripheralSpec> peripherals)
    : startTime(std::chrono::steady_clock::now()), taskQueue([this] { wake(); }),
      simPort([this] { wake(); }), simDevice(config, std::move(peripherals), simPort),
      workerThread([this] { run(); }) {}

SimRunner::~SimRunner() {
    {
        const std::lock_guard lock(mutex);
        stopRequested = true;
    }
    wakeUp.notify_all();
    workerThread.join();
}

std::string SimRunner::control(std::string_view line) {
    return call([text = std::string(line)](SimDevice& device, SimTime now) {
        return runControlCommand(device, text, now);
    });
}

void SimRunner::wake() {
    {
        const std::lock_guard lock(mutex);
        woken = true;
    }
    wakeUp.notify_all();
}

SimTime SimRunner::elapsed() const {
    return std::chrono::duration_cast<SimTime>(std::chrono::steady_clock::now() - startTime);
}

void SimRunner::run() {
    simDevice.start(elapsed());
    while (true) {
        const auto due = simDevice.nextDue();
        {
            std::unique_lock lock(mutex);
            const auto deadline =
                due ? startTime + *due : std::chrono::steady_clock::now() + std::chrono::hours(1);
            wakeUp.wait_until(lock, deadline, [this] { return stopRequested || woken; });
            if (stopRequested) {
                return;
            }
            woken = false;
        }
        const SimTime now = elapsed();
        const Bytes bytes = simPort.takeHostBytes();
        if (!bytes.empty()) {
            simDevice.receive(bytes, now);
        }
        for (auto& task : taskQueue.take()) {
            task(simDevice, now);
        }
        simDevice.advance(now);
    }
}

} // namespace sim
