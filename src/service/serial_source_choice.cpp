// The choice among the port sources by the command line's options.
//
// Threads: see serial_source_choice.h.
#include "service/serial_source_choice.h"

#include "conduit/serial/serial_source.h"
#include "conduit/serial/simulated_source.h"

std::unique_ptr<SerialPortSource> makeSerialPortSource(const ServiceOptions& options) {
    if (options.simulate) {
        return std::make_unique<SimulatedPortSource>();
    }
    if (!options.port.empty()) {
        return makeFixedPortSource(options.port);
    }
    return makeSearchingPortSource();
}
