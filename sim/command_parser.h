// CommandParser: cuts the bytes a host writes into BGAPI commands, and recovers from
// bytes that do not make one.
//
// - A byte that cannot start a command (event bit or technology bits set) is skipped.
// - A header that names no command of the table, or announces a length the named
//   command cannot have, is rejected: next() hands it out with the reason a module puts
//   into system_protocol_error, and the parser looks for a command one byte further on.
//   A stray byte in front of a command costs that command nothing.
// - A partial command idle for longer than commandIdleLimit is dropped by expire().
//
// Threads: owned by a SimDevice, used on its thread only.
#pragma once

#include "sim/bgapi_packet.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>

namespace sim {

// A command whose bytes stop coming for longer than this is discarded: a host writes a
// command in one go, so a piece left alone this long is a remnant (of a host that died
// mid-write, say), not the start of the next command.
constexpr std::chrono::milliseconds commandIdleLimit{100};

struct Intake {
    Bytes bytes;            // a whole command, or the 4 bytes of a rejected header
    uint16_t rejection = 0; // 0 for a command; else the protocol error's reason
};

class CommandParser {
public:
    void push(std::span<const uint8_t> bytes, std::chrono::milliseconds now);
    // The next whole command or rejected header, if there is one.
    std::optional<Intake> next();
    // Drops a partial command whose last byte came more than commandIdleLimit before
    // `now`; true when it did.
    bool expire(std::chrono::milliseconds now);
    // Whether a partial command waits for more bytes.
    bool pending() const { return !buffer.empty(); }
    size_t skippedBytes() const { return skipped; }
    void clear() { buffer.clear(); }

private:
    Bytes buffer;
    std::chrono::milliseconds lastByteAt{0};
    size_t skipped = 0; // bytes dropped: skipped, rejected or expired
};

} // namespace sim
