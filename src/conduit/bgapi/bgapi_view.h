// The base of the payload views that gen_bgapi_table.py generates (bgapi_views.h): bounded
// little-endian reads of one received payload.
//
// A view is made from the payload's first byte and the number of bytes that arrived, and
// never reads past them: a field, or the part of a field, beyond those bytes reads as 0,
// and an array is cut to the bytes that arrived. The reader passes a payload to its
// handler only when checkPayload finds it whole (a scan response also when its data run
// past the end), so in the handlers every fixed field is whole and only the data of a
// scan response may be cut.
//
// Threads: a view borrows the payload; it lives within the handler's call.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

class BgPayloadView {
public:
    BgPayloadView(const uint8_t* payload, size_t length) : received(payload, length) {}

protected:
    uint8_t fieldU8(size_t offset) const { return offset < received.size() ? received[offset] : 0; }
    int8_t fieldI8(size_t offset) const { return static_cast<int8_t>(fieldU8(offset)); }
    uint16_t fieldU16(size_t offset) const {
        return static_cast<uint16_t>(fieldU8(offset) | fieldU8(offset + 1) << 8);
    }
    int16_t fieldI16(size_t offset) const { return static_cast<int16_t>(fieldU16(offset)); }
    uint32_t fieldU32(size_t offset) const {
        return fieldU16(offset) | static_cast<uint32_t>(fieldU16(offset + 2)) << 16;
    }
    int32_t fieldI32(size_t offset) const { return static_cast<int32_t>(fieldU32(offset)); }
    // The 6 bytes in the order the dongle sends them.
    std::array<uint8_t, 6> fieldAddress(size_t offset) const {
        std::array<uint8_t, 6> address{};
        for (size_t i = 0; i < address.size(); ++i) {
            address[i] = fieldU8(offset + i);
        }
        return address;
    }
    // The data of an array whose length field, of `lengthSize` bytes (1 or 2), is at
    // `offset`: the data follow the field.
    std::span<const uint8_t> fieldArray(size_t offset, size_t lengthSize) const {
        const size_t declared = lengthSize == 2 ? fieldU16(offset) : fieldU8(offset);
        const size_t start = std::min(offset + lengthSize, received.size());
        return received.subspan(start, std::min(declared, received.size() - start));
    }

private:
    std::span<const uint8_t> received;
};
