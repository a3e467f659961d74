// Finding the dongle's serial port among the system's present ports:
// port_discovery_linux.cpp walks sysfs, port_discovery_win32.cpp asks SetupDi.
//
// Threads: called by the reader thread (through the platform's SerialPortSource).
#pragma once

#include <string>

// The name to open the dongle's port by, or empty when no dongle is present.
std::string findDonglePort();
