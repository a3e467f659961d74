// The simulated dongle on its own thread. See sim_runner.h.
#include "sim/sim_runner.h"

#include "sim/sim_control.h"

namespace sim {

SimRunner::SimRunner(SimConfig config, std::vector<PeripheralSpec> peripherals)
    : start_(std::chrono::steady_clock::now()), tasks_([this] { wake(); }),
      port_([this] { wake(); }), device_(config, std::move(peripherals), port_),
      thread_([this] { run(); }) {}

SimRunner::~SimRunner() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wakeUp_.notify_all();
    thread_.join();
}

std::string SimRunner::control(std::string_view line) {
    return call([text = std::string(line)](SimDevice& device, SimTime now) {
        return runControlCommand(device, text, now);
    });
}

void SimRunner::wake() {
    {
        const std::lock_guard lock(mutex_);
        woken_ = true;
    }
    wakeUp_.notify_all();
}

SimTime SimRunner::elapsed() const {
    return std::chrono::duration_cast<SimTime>(std::chrono::steady_clock::now() - start_);
}

void SimRunner::run() {
    device_.start(elapsed());
    while (true) {
        const auto due = device_.nextDue();
        {
            std::unique_lock lock(mutex_);
            const auto deadline =
                due ? start_ + *due : std::chrono::steady_clock::now() + std::chrono::hours(1);
            wakeUp_.wait_until(lock, deadline, [this] { return stop_ || woken_; });
            if (stop_) {
                return;
            }
            woken_ = false;
        }
        const SimTime now = elapsed();
        const Bytes bytes = port_.takeHostBytes();
        if (!bytes.empty()) {
            device_.receive(bytes, now);
        }
        for (auto& task : tasks_.take()) {
            task(device_, now);
        }
        device_.advance(now);
    }
}

} // namespace sim
