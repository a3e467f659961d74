// Control commands for a running simulated dongle: faults and peripheral actions, one
// command per line of text, as typed on linkrelay-sim's standard input or sent to its
// control socket, and as SimRunner::control takes them.
//
//   help                        this list
//   status                      on the bus or not, silence, discovery, frames dropped
//                               for a host that did not read, bonds, links
//   peripherals                 the virtual peripherals and their attribute handles
//   record [clear]              the commands received: time, name and bytes
//   unplug | replug             the dongle leaves the bus / comes back and boots
//   silence on|off              stop / resume sending anything (trips a watchdog)
//   wedge on|off                stop / resume reading the port (behind a pty the
//                               host's writes back up until they block)
//   garbage [COUNT]             send COUNT random bytes (default 16)
//   send HEX                    send these bytes as they are
//   unknown                     send a message of unknown class and id (event 8/0)
//   busy N                      answer the next N write commands with 0x0182
//   stall-connect N             the next N connects are never answered
//   disconnect CONN REASON      the remote side ends link CONN (e.g. 0x0213 0x0208 0x0222)
//   slow MS                     answer every command MS ms late (0: at once)
//   range ADDR in|out           a peripheral comes into / goes out of range
//   advertise ADDR on|off       a peripheral starts / stops advertising
//   notify ADDR HANDLE HEX      a peripheral's value changes; a subscribed link hears it
//
// Numbers are decimal or 0x-prefixed hex. Every reply is one or more lines; the last
// line is "ok" or begins with "error:".
//
// Threads: runControlCommand runs on the device's thread (it touches the device).
#pragma once

#include "sim/sim_device.h"

#include <string>
#include <string_view>

namespace sim {

std::string runControlCommand(SimDevice& device, std::string_view line, SimTime now);

// The command list above, for --help and "help".
const char* controlHelp();

} // namespace sim
