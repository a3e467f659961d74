// The serial seam: the dongle's port as the conduit sees it, and where ports come from.
//
// A SerialPort is one open port. A SerialPortSource finds the dongle's port and opens it:
// the platform's search (SetupDi on Windows, a sysfs walk on Linux), a fixed path given
// on the command line, the in-process simulated dongle, or a test's fake.
//
// Threads: the reader thread opens, reads and closes; the mux thread writes and calls
// cancelRead, always under the conduit lock. readSome may therefore run while another
// thread writes or cancels, and implementations must allow exactly that.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

// Results of SerialPort::readSome besides a byte count.
constexpr int serialReadEmpty = 0;      // a read round came back with no byte
constexpr int serialReadError = -1;     // the port failed (unplugged, hung up, ...)
constexpr int serialReadCancelled = -2; // cancelRead ended the read

class SerialPort {
public:
    virtual ~SerialPort() = default;

    // One read round: waits up to `timeoutMs` and returns what arrived, 1 to `max`
    // bytes; serialReadEmpty when nothing came; serialReadCancelled or serialReadError
    // otherwise. Callers that need an exact count call it again for the rest.
    virtual int readSome(uint32_t max, uint8_t* bytes, unsigned timeoutMs) = 0;
    // Writes all `count` bytes: 0, or -1 on a write error.
    virtual int write(uint32_t count, const uint8_t* bytes) = 0;
    // Ends the pending read with serialReadCancelled; with no read pending, the next read
    // returns serialReadCancelled at once.
    virtual void cancelRead() = 0;
    // Closes the port: 0, or the platform's error number.
    virtual int close() = 0;
};

class SerialPortSource {
public:
    virtual ~SerialPortSource() = default;

    // The name of the dongle's port ("COM7", "/dev/serial/by-id/...", ...), or empty.
    virtual std::string find() = 0;
    // Opens the named port; null when it cannot be opened.
    virtual std::unique_ptr<SerialPort> open(const std::string& name) = 0;
    // Why the last open failed, in the system's words; empty when there is nothing to say.
    virtual std::string openFailure() { return {}; }
};
