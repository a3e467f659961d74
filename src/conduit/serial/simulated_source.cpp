// The simulated dongle's port source and its port, a thin adapter over sim::SimPort.
//
// Threads: see simulated_source.h. A port's `closed` is touched only by the thread that
// owns the port (the reader thread, which also closes it).
#include "conduit/serial/simulated_source.h"

#include "sim/peripheral.h"

namespace {

class SimulatedPort : public SerialPort {
public:
    SimulatedPort(sim::SimPort& simPort, std::atomic<bool>& openFlag)
        : port(simPort), portOpen(openFlag) {}
    ~SimulatedPort() override { close(); }
    SimulatedPort(const SimulatedPort&) = delete;
    SimulatedPort& operator=(const SimulatedPort&) = delete;

    // SimPort's results are the seam's: a count, 0 on timeout, -2 cancelled, -1 broken.
    int readSome(uint32_t max, uint8_t* bytes, unsigned timeoutMs) override {
        return port.read(bytes, max, static_cast<int>(timeoutMs));
    }
    int write(uint32_t count, const uint8_t* bytes) override { return port.write(bytes, count); }
    void cancelRead() override { port.kick(); }
    int close() override {
        if (closed) {
            return -1;
        }
        closed = true;
        port.close();
        portOpen.store(false);
        return 0;
    }

private:
    sim::SimPort& port;
    std::atomic<bool>& portOpen;
    bool closed = false;
};

} // namespace

SimulatedPortSource::SimulatedPortSource()
    : simRunner(sim::SimConfig{}, sim::builtinPeripherals()) {}

std::string SimulatedPortSource::find() {
    return simRunner.port().present() ? portName : std::string();
}

std::unique_ptr<SerialPort> SimulatedPortSource::open(const std::string& name) {
    if (name != portName || portOpen.exchange(true)) {
        return nullptr;
    }
    if (!simRunner.port().open()) {
        portOpen.store(false);
        return nullptr;
    }
    return std::make_unique<SimulatedPort>(simRunner.port(), portOpen);
}
