// findMessage: two bounds checks and two indexed loads, no allocation.
#include "conduit/bgapi/bgapi_table.h"

const MessageDef* findMessage(uint32_t header) {
    const bool isEvent = (header & 0x80U) != 0;
    const uint32_t messageClass = (header >> 16) & 0xFFU;
    const uint32_t id = (header >> 24) & 0xFFU;
    if (messageClass >= bgClassCount) {
        return nullptr;
    }
    const BgClassIndex& index =
        isEvent ? eventClasses[messageClass] : responseClasses[messageClass];
    if (id >= index.count) {
        return nullptr;
    }
    return index.messages[id];
}
