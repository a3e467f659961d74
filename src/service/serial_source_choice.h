// Where the conduit's serial port comes from, as the command line chooses: the
// platform's search for the dongle, a fixed port (--port PATH), or the in-process
// simulated dongle (--simulate).
//
// Threads: the source is made before the worker threads start and is then used by the
// reader thread alone (SerialPortSource's rules).
#pragma once

#include "conduit/serial/serial_port.h"
#include "service/service_options.h"

#include <memory>

// The source for these options. With --simulate the simulated dongle lives as long as
// the source: every port opened from it must be gone before the source is.
std::unique_ptr<SerialPortSource> makeSerialPortSource(const ServiceOptions& options);
