// The port sources of the platform: the search for the dongle, and a fixed port
// (--port PATH). The simulated dongle's source is in simulated_source.h; the service
// chooses among them (service/serial_source_choice.h).
//
// Threads: a source is made before the worker threads start and is then used by the
// reader thread alone (SerialPortSource's rules).
#pragma once

#include "conduit/serial/serial_port.h"

#include <memory>
#include <string>

// The dongle found among the present ports (SetupDi on Windows, sysfs on Linux).
std::unique_ptr<SerialPortSource> makeSearchingPortSource();

// The port at `path`; found while it exists, so that a dongle that is away reads as not
// found.
std::unique_ptr<SerialPortSource> makeFixedPortSource(std::string path);
