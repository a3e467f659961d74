// The platform's serial ports: opening one by name for the conduit's serial seam.
// serial_port_linux.cpp holds the Linux port (a tty with an eventfd for cancelling),
// serial_port_win32.cpp the Windows port (a synchronous COM handle).
//
// Threads: any thread may open; the port returned follows SerialPort's rules.
#pragma once

#include "conduit/serial/serial_port.h"

#include <memory>
#include <string>

// A write that the port cannot take within this many milliseconds has failed: the dongle
// is stuck. Both platforms' ports give up on a write after it.
constexpr unsigned serialWriteLimitMs = 5000;

// Opens the serial port `name` (a device path on Linux; "COM7" or "\\.\COM7" on
// Windows) for reading and writing; null when it cannot be opened.
std::unique_ptr<SerialPort> openSerialPort(const std::string& name);

// Why the last openSerialPort on this thread failed, in the system's words with its error
// number; empty after a success.
std::string lastOpenFailure();

// Whether a port of that name is there to be opened (Windows cannot tell without
// opening, and says yes).
bool serialPortExists(const std::string& name);
