// Virtual peripherals written as text, for users of linkrelay-sim (--peripherals FILE).
//
// One statement per line; blank lines and lines starting with '#' are skipped;
// indentation is free. Numbers are decimal or 0x-prefixed hex; HEX is hex digits, with
// blanks allowed between bytes in adv and scan-response (not within a characteristic
// line, whose words are separated by blanks).
//
//   peripheral AA:BB:CC:DD:EE:FF [NAME...]   starts a peripheral (most significant first)
//   address-type public|random              accepts connects only with this type
//   interval MS                             advertising interval (default 100)
//   rssi DBM                                mean RSSI (default -60)
//   adv HEX                                 advertising data
//   scan-response HEX                       scan response data, for active scans
//   not-connectable                         only advertises
//   bondable                                pairs and bonds when asked (else refuses)
//   out-of-range                            starts out of range
//   service UUID                            a primary service (16-bit or 128-bit UUID)
//   characteristic UUID [read] [write] [write-no-response] [notify] [indicate] [echo]
//                  [value HEX] [every MS] [sequence HEX,HEX,...]
//                                           a characteristic of the last service; "echo"
//                                           notifies every write back, "every" notifies
//                                           the value (or the next of "sequence") each MS
//
// Threads: plain functions.
#pragma once

#include "sim/peripheral.h"

#include <string_view>
#include <vector>

namespace sim {

// Parses the text; throws std::runtime_error naming the line of the first error.
std::vector<PeripheralSpec> parsePeripherals(std::string_view text);

// Parses hex digits (blanks and ':' between bytes allowed); nullopt when malformed.
std::optional<Bytes> parseHex(std::string_view text);

} // namespace sim
