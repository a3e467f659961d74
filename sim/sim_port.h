// SimPort: the in-process serial port of the simulated dongle. The host side (the
// service's serial seam) opens, reads, writes, kicks and closes it like a serial port;
// the device side is the SimLink that a SimRunner's device writes to.
//
// An unplug or a reset takes the dongle off the bus: open() then fails, and a port
// that was open stays broken (read and write return -1) until it is closed and opened
// again after the dongle has come back, as with a hung-up tty. Bytes the dongle sends
// while no one has the port open wait in the port, as in a tty buffer; the boot of a
// dongle that comes back is sent only while a host has the port open, which a port that
// went away never is (SimLink::hostOpen). The port holds up to 64 KiB the host has not
// read; a frame that does not fit is dropped whole, so the host reads whole frames only.
//
// Threads: every member is thread-safe. One mutex (mutex) guards all state;
// readableCondition wakes a reader. The host's write calls the wake function given to the
// constructor after releasing mutex, so the device thread may take its own lock
// there; the device thread calls toHost, setPresent and takeHostBytes without holding
// any lock of its own that the host side could wait for.
#pragma once

#include "sim/sim_device.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

namespace sim {

class SimPort : public SimLink {
public:
    explicit SimPort(std::function<void()> wakeDevice);

    // Host side.
    bool present() const;
    // Opens the port; false while the dongle is off the bus.
    bool open();
    void close();
    // 0 when all bytes were taken, -1 when the port is not open or broken.
    int write(const uint8_t* bytes, size_t count);
    // Waits up to timeoutMs for bytes: the count read (at most max), 0 on timeout, -2
    // when kick() cancelled it, -1 when the port is not open or broken.
    int read(uint8_t* buffer, size_t max, int timeoutMs);
    // Makes the pending read, or else the next one, return -2 at once.
    void kick();

    // Device side.
    bool toHost(std::span<const uint8_t> bytes) override;
    void setPresent(bool present) override;
    bool hostOpen() const override;
    // The bytes the host wrote since the last call.
    Bytes takeHostBytes();

private:
    static constexpr size_t bufferLimit = size_t{64} * 1024;

    std::function<void()> deviceWaker;
    mutable std::mutex mutex;
    std::condition_variable readableCondition;
    bool isPresent = false;
    bool isOpen = false;
    bool broken = false;
    bool kicked = false;
    Bytes toHostBytes;
    Bytes fromHostBytes;
};

} // namespace sim
