// UUID byte orders and the expansion of 16-bit UUIDs with the Bluetooth base UUID.
#include "conduit/bg/bg_uuid.h"

#include <algorithm>

namespace {

// 00000000-0000-1000-8000-00805F9B34FB, most significant byte first; a 16-bit UUID takes
// bytes 2 and 3.
constexpr std::array<uint8_t, 16> bluetoothBaseUuid{0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                                    0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};

} // namespace

std::array<uint8_t, 16> uuidTypeField(const UuidRecord& uuid) {
    std::array<uint8_t, 16> bigEndian = uuid.bytes;
    if (uuid.length == 2) {
        bigEndian = bluetoothBaseUuid;
        bigEndian[2] = uuid.bytes[0];
        bigEndian[3] = uuid.bytes[1];
    }
    std::array<uint8_t, 16> field{};
    std::reverse_copy(bigEndian.begin(), bigEndian.end(), field.begin());
    return field;
}

std::optional<UuidRecord> uuidFromWire(const uint8_t* bytes, size_t length) {
    if (!isValidUuidLength(static_cast<uint32_t>(length))) {
        return std::nullopt;
    }
    UuidRecord record;
    record.length = static_cast<uint8_t>(length);
    std::reverse_copy(bytes, bytes + length, record.bytes.begin());
    return record;
}
