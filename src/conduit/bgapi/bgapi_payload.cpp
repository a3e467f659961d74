// checkPayload: finds the trailing array's length field by walking the parameter word.
#include "conduit/bgapi/bgapi_payload.h"

BgPayloadFit checkPayload(const MessageDef& def, const uint8_t* payload, size_t length) {
    if (length < def.fixedLength()) {
        return BgPayloadFit::FixedPartMissing;
    }
    size_t offset = 0;
    for (uint32_t word = def.params; word != 0; word >>= 4) {
        const uint32_t code = word & 0xFU;
        if (bgIsArray(code)) {
            size_t arrayLength = payload[offset];
            if (bgParamSize(code) == 2) {
                arrayLength |= static_cast<size_t>(payload[offset + 1]) << 8;
            }
            return def.fixedLength() + arrayLength > length ? BgPayloadFit::ArrayPastEnd
                                                            : BgPayloadFit::Whole;
        }
        offset += bgParamSize(code);
    }
    return BgPayloadFit::Whole;
}
