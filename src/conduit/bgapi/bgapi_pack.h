// The BGAPI packer: sendCommand turns a command of messageTable and its arguments into a
// packet and hands it to the process-wide output function bgOutput.
//
// The arguments follow the command's parameter word: each integer one argument (only its
// low bits are sent), each array a length and then a pointer to its data, each device
// address a pointer to its 6 bytes. The packet is the 4-byte header, whose 11-bit length
// counts the array data too, and the fixed payload, little-endian; the array data go to
// bgOutput separately, straight from the caller's memory. Nothing is allocated.
//
// Threads: bgOutput is process-wide and unguarded here. Callers hold the conduit's lock
// around every sendCommand and every change of bgOutput, which also keeps the bytes of one
// packet together on the port.
#pragma once

#include "conduit/bgapi/bgapi_table.h"

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <span>

// Receives one packet: `length` bytes of header and fixed payload, then `dataLength` bytes
// of array data (none: 0 and null).
using BgOutput = void (*)(uint8_t length, const uint8_t* packet, uint16_t dataLength,
                          const uint8_t* data);

// Null until the transport installs its packet writer; while null, nothing is sent.
extern BgOutput bgOutput;

// One argument of sendCommand: an integer or a pointer to bytes.
struct BgArg {
    template <std::integral T> constexpr BgArg(T number) : value(static_cast<uint32_t>(number)) {}
    constexpr BgArg(const uint8_t* pointer) : bytes(pointer), isPointer(true) {}
    constexpr BgArg(std::nullptr_t) : isPointer(true) {}

    uint32_t value = 0;
    const uint8_t* bytes = nullptr;
    bool isPointer = false;
};

// Packs `command` with `args` and hands the packet to bgOutput when it is set. Returns false
// and sends nothing when `command` is not a command or the arguments do not fit its
// parameters: too few or too many, a pointer where an integer belongs or the other way
// round, a null address, a null array with a non-zero length, an array longer than its
// length field can say, or a payload beyond the header's 11 bits.
bool packCommand(BgMessage command, std::span<const BgArg> args);

template <typename... Args> bool sendCommand(BgMessage command, const Args&... args) {
    const std::array<BgArg, sizeof...(Args)> list{BgArg(args)...};
    return packCommand(command, list);
}
