// packCommand: walks the command's parameter word and writes each parameter at the next
// payload position of a stack packet, then hands the packet and the array data to
// bgOutput.
#include "conduit/bgapi/bgapi_pack.h"

#include <algorithm>

BgOutput bgOutput = nullptr;

namespace {

constexpr size_t headerSize = 4;
constexpr size_t largestFixedPayload = 16;
constexpr size_t largestPayload = 0x7FF; // the header's 11-bit length

// Takes the next arguments and fills the packet; fails on any argument that does not fit.
class PacketWriter {
public:
    explicit PacketWriter(std::span<const BgArg> arguments) : args(arguments) {}

    bool putInteger(size_t bytes) {
        const BgArg* arg = take();
        if (arg == nullptr || arg->isPointer) {
            return false;
        }
        for (size_t i = 0; i < bytes; ++i) {
            packet[position++] = static_cast<uint8_t>(arg->value >> (8 * i));
        }
        return true;
    }

    bool putAddress() {
        const BgArg* arg = take();
        if (arg == nullptr || !arg->isPointer || arg->bytes == nullptr) {
            return false;
        }
        std::copy_n(arg->bytes, 6, packet.begin() + static_cast<std::ptrdiff_t>(position));
        position += 6;
        return true;
    }

    // The length field (1 or 2 bytes) goes into the packet; the data are only remembered.
    bool putArray(size_t lengthBytes) {
        const BgArg* length = take();
        const BgArg* data = take();
        if (length == nullptr || length->isPointer || data == nullptr || !data->isPointer) {
            return false;
        }
        const uint32_t largest = lengthBytes == 1 ? 0xFFU : 0xFFFFU;
        if (length->value > largest || (length->value != 0 && data->bytes == nullptr)) {
            return false;
        }
        for (size_t i = 0; i < lengthBytes; ++i) {
            packet[position++] = static_cast<uint8_t>(length->value >> (8 * i));
        }
        arrayLength = static_cast<uint16_t>(length->value);
        arrayData = length->value == 0 ? nullptr : data->bytes;
        return true;
    }

    bool usedAllArguments() const { return next == args.size(); }

    std::array<uint8_t, headerSize + largestFixedPayload> packet{};
    size_t position = headerSize;
    uint16_t arrayLength = 0;
    const uint8_t* arrayData = nullptr;

private:
    const BgArg* take() { return next < args.size() ? &args[next++] : nullptr; }

    std::span<const BgArg> args;
    size_t next = 0;
};

bool putParameter(PacketWriter& writer, uint32_t code) {
    switch (static_cast<BgParam>(code)) {
    case BgParam::Uint8:
    case BgParam::Int8:
    case BgParam::Uint16:
    case BgParam::Int16:
    case BgParam::Uint32:
    case BgParam::Int32:
        return writer.putInteger(bgParamSize(code));
    case BgParam::Address:
        return writer.putAddress();
    case BgParam::Uint8Array:
    case BgParam::Text:
    case BgParam::Uint16Array:
        return writer.putArray(bgParamSize(code));
    }
    return true; // codes 0, 1 and 12 to 15 name no parameter
}

} // namespace

bool packCommand(BgMessage command, std::span<const BgArg> args) {
    if (bgIndex(command) >= bgCommandCount) {
        return false;
    }
    const MessageDef& def = bgMessage(command);
    if (def.fixedLength() > largestFixedPayload) {
        return false;
    }
    PacketWriter writer(args);
    std::copy(def.header.begin(), def.header.end(), writer.packet.begin());
    for (uint32_t word = def.params; word != 0; word >>= 4) {
        if (!putParameter(writer, word & 0xFU)) {
            return false;
        }
    }
    const size_t payloadLength = def.fixedLength() + writer.arrayLength;
    if (!writer.usedAllArguments() || payloadLength > largestPayload) {
        return false;
    }
    writer.packet[0] = static_cast<uint8_t>((def.header[0] & 0xF8U) | (payloadLength >> 8));
    writer.packet[1] = static_cast<uint8_t>(payloadLength & 0xFFU);
    if (bgOutput != nullptr) {
        bgOutput(static_cast<uint8_t>(headerSize + def.fixedLength()), writer.packet.data(),
                 writer.arrayLength, writer.arrayData);
    }
    return true;
}
