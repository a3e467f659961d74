// SimPty (Linux): a pseudo-terminal standing in for the dongle's serial port, named by
// a stable symbolic link.
//
// attach() makes a fresh pty pair, puts the slave in raw mode (no echo, no line
// discipline, so every byte passes as it is) and points the link at the slave, by an
// atomic rename. The simulator keeps a slave descriptor of its own open, so the master
// never reads EIO while no client has the port open. detach() removes the link and
// closes both ends: a client that has the port open sees a hang-up, as on an unplug.
// The master is non-blocking: write() takes what fits into the pty now.
//
// Threads: owned by one thread (PtyDriver's); not thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace sim {

class SimPty {
public:
    explicit SimPty(std::string linkPath);
    ~SimPty();
    SimPty(const SimPty&) = delete;
    SimPty& operator=(const SimPty&) = delete;

    // False with a message in `error` when the pty or the link cannot be made.
    bool attach(std::string& error);
    void detach();
    bool attached() const { return master >= 0; }

    int masterFd() const { return master; }
    const std::string& slavePath() const { return slaveDevicePath; }
    const std::string& linkPath() const { return symlinkPath; }

    // Writes to the client what fits now; returns the number of bytes written.
    size_t write(std::span<const uint8_t> bytes);
    // Reads what the client wrote, without waiting: the count, 0 when there is
    // nothing, -1 on an error.
    long read(uint8_t* buffer, size_t max);

private:
    std::string symlinkPath;
    std::string slaveDevicePath;
    int master = -1;
    int slave = -1;
};

} // namespace sim
