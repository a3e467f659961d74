// PtyDriver (Linux): a simulated dongle behind a pseudo-terminal, run in real time on a
// thread of its own. A reset or an unplug takes the pty away (the link vanishes, a
// client sees a hang-up); the dongle's return makes a fresh pty and re-points the link.
// No client can have that fresh pty open yet, so nobody hears the boot.
//
// What the device sends waits in an output queue until the pty takes it. The queue
// holds up to 64 KiB; a frame that does not fit while the client does not read is
// dropped whole, so the stream the client reads is made of whole frames only.
//
// Threads: start() runs on the owner's thread before the driver's thread exists; after
// that only the driver's thread touches the device and the pty, waiting in poll() on
// the pty master and an eventfd that wake() signals. Other threads reach the device
// through call() and control(), never from the driver's own thread. stopRequested is atomic.
#pragma once

#include "sim/device_tasks.h"
#include "sim/sim_device.h"
#include "sim/sim_pty.h"

#include <atomic>
#include <chrono>
#include <string>
#include <string_view>
#include <thread>

namespace sim {

class PtyDriver : private SimLink {
public:
    PtyDriver(SimConfig config, std::vector<PeripheralSpec> peripherals, std::string linkPath);
    ~PtyDriver() override;
    PtyDriver(const PtyDriver&) = delete;
    PtyDriver& operator=(const PtyDriver&) = delete;

    // Plugs the dongle in (makes the pty and the link) and starts the thread. No
    // system_boot is queued: the pty is new, so no host has it open yet. False, with a
    // message in `error`, when the pty cannot be made.
    bool start(std::string& error);

    const std::string& linkPath() const { return ptyPair.linkPath(); }

    // Runs work(device, now) on the driver's thread and returns its result.
    template <typename Work> auto call(Work work) { return taskQueue.call(std::move(work)); }

    // Runs one control command (sim_control.h) and returns its reply.
    std::string control(std::string_view line);
    // The pty slave the link points at now, empty while the dongle is off the bus.
    std::string slavePath();

private:
    bool toHost(std::span<const uint8_t> bytes) override;
    void setPresent(bool present) override;
    bool hostOpen() const override;
    void flush();
    void wake();
    void run();
    int pollTimeout() const;
    SimTime elapsed() const;

    const std::chrono::steady_clock::time_point startTime;
    SimPty ptyPair;
    Bytes outgoing;          // sent by the device, not yet taken by the pty
    std::string attachError; // why the last attach failed
    int wakeFd = -1;
    std::atomic<bool> stopRequested{false};
    DeviceTasks taskQueue;
    SimDevice simDevice;
    std::thread workerThread;
};

} // namespace sim
