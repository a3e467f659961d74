// The in-process simulated dongle as a port source: `linkrelay --simulate`.
//
// The source owns a SimRunner (the simulated dongle with its built-in peripherals, on a
// thread of its own) and opens the runner's SimPort. Only one port is open at a time,
// as with an exclusively opened tty. A reset takes the dongle off the bus for its
// re-enumeration time: find() is then empty and open() fails, and the port that was open
// reads and writes errors until it is closed.
//
// Threads: find and open on the reader thread; a port follows SerialPort's rules (the
// SimPort is thread-safe). portOpen is atomic. runner() is for tests and tools that
// drive the simulated dongle from outside.
#pragma once

#include "conduit/serial/serial_port.h"
#include "sim/sim_runner.h"

#include <atomic>
#include <memory>
#include <string>

class SimulatedPortSource : public SerialPortSource {
public:
    SimulatedPortSource();

    std::string find() override;
    std::unique_ptr<SerialPort> open(const std::string& name) override;

    sim::SimRunner& runner() { return simRunner; }

    // The name find() gives the simulated dongle's port.
    static constexpr const char* portName = "simulated";

private:
    sim::SimRunner simRunner;
    std::atomic<bool> portOpen{false}; // a port from open() has not been closed yet
};
