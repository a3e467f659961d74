// The sources of makeSerialPortSource: the platform's search and a fixed port; the
// simulated dongle is in simulated_source.cpp.
//
// Threads: see serial_source.h; the sources hold no state that changes.
#include "conduit/serial_source.h"

#include "conduit/port_discovery.h"
#include "conduit/serial_port_platform.h"
#include "conduit/simulated_source.h"

#include <string>
#include <utility>

namespace {

// The dongle found among the present ports (SetupDi on Windows, sysfs on Linux).
class SearchingSource : public SerialPortSource {
public:
    std::string find() override { return findDonglePort(); }
    std::unique_ptr<SerialPort> open(const std::string& name) override {
        return openSerialPort(name);
    }
    std::string openFailure() override { return lastOpenFailure(); }
};

// The port given on the command line; found while it exists, so that a dongle that is
// away reads as not found.
class FixedPortSource : public SerialPortSource {
public:
    explicit FixedPortSource(std::string fixedPath) : path(std::move(fixedPath)) {}

    std::string find() override { return serialPortExists(path) ? path : std::string(); }
    std::unique_ptr<SerialPort> open(const std::string& name) override {
        return openSerialPort(name);
    }
    std::string openFailure() override { return lastOpenFailure(); }

private:
    const std::string path;
};

} // namespace

std::unique_ptr<SerialPortSource> makeSerialPortSource(const ServiceOptions& options) {
    if (options.simulate) {
        return std::make_unique<SimulatedPortSource>();
    }
    if (!options.port.empty()) {
        return std::make_unique<FixedPortSource>(options.port);
    }
    return std::make_unique<SearchingSource>();
}
