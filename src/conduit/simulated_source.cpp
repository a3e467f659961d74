// The simulated dongle's port source and its port, a thin adapter over sim::SimPort.
//
// Threads: see simulated_source.h. A port's `closed_` is touched only by the thread that
// owns the port (the reader thread, which also closes it).
#include "conduit/simulated_source.h"

#include "sim/peripheral.h"

namespace {

class SimulatedPort : public SerialPort {
public:
    SimulatedPort(sim::SimPort& port, std::atomic<bool>& portOpen)
        : port_(port), portOpen_(portOpen) {}
    ~SimulatedPort() override { close(); }
    SimulatedPort(const SimulatedPort&) = delete;
    SimulatedPort& operator=(const SimulatedPort&) = delete;

    // SimPort's results are the seam's: a count, 0 on timeout, -2 cancelled, -1 broken.
    int readSome(uint32_t max, uint8_t* bytes, unsigned timeoutMs) override {
        return port_.read(bytes, max, static_cast<int>(timeoutMs));
    }
    int write(uint32_t count, const uint8_t* bytes) override { return port_.write(bytes, count); }
    void cancelRead() override { port_.kick(); }
    int close() override {
        if (closed_) {
            return -1;
        }
        closed_ = true;
        port_.close();
        portOpen_.store(false);
        return 0;
    }

private:
    sim::SimPort& port_;
    std::atomic<bool>& portOpen_;
    bool closed_ = false;
};

} // namespace

SimulatedPortSource::SimulatedPortSource() : runner_(sim::SimConfig{}, sim::builtinPeripherals()) {}

std::string SimulatedPortSource::find() {
    return runner_.port().present() ? portName : std::string();
}

std::unique_ptr<SerialPort> SimulatedPortSource::open(const std::string& name) {
    if (name != portName || portOpen_.exchange(true)) {
        return nullptr;
    }
    if (!runner_.port().open()) {
        portOpen_.store(false);
        return nullptr;
    }
    return std::make_unique<SimulatedPort>(runner_.port(), portOpen_);
}
