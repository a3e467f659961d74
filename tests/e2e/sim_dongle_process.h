// The simulated dongle as a program of its own: linkrelay-sim behind a pseudo-terminal,
// started as a child process, with its control socket for faults and for the record of
// the commands it received.
//
// Threads: each object belongs to the thread of the test that made it.
#pragma once

#include "process_harness.h"

#include <memory>
#include <string>
#include <vector>

namespace harness {

class SimDongleProcess {
public:
    // Starts linkrelay-sim with its port link and control socket in `folder`; `extra`
    // are further options. started() tells whether the link appeared within 10 s.
    SimDongleProcess(const TempDir& folder, const std::vector<std::string>& extra = {});

    bool started() const { return up; }
    const std::string& link() const { return linkPath; }

    // Runs one control command; its reply, ending with "ok\n" or an "error: ..." line,
    // or empty when the socket cannot be reached.
    std::string control(const std::string& command) const;
    // The commands the dongle received, one line each: "<ms> ms <name> <hex bytes>".
    std::vector<std::string> record() const;
    // The received commands of this name, as their hex bytes.
    std::vector<std::string> recorded(const std::string& name) const;
    // The attribute handle of the value of the characteristic `uuid` (as linkrelay-sim
    // prints it) on the peripheral `address`; 0 when there is none.
    int valueHandle(const std::string& address, const std::string& uuid) const;

private:
    std::string linkPath;
    std::string controlPath;
    std::unique_ptr<ChildProcess> process;
    bool up = false;
};

} // namespace harness
