// Field helpers shared by the request and event codecs.
#include "gob/gob_fields.h"

int codeAddress(Gob& gob, BleAddress& address) {
    return codeBytes(gob, address.bytes.data(), static_cast<uint32_t>(address.bytes.size()));
}

int codeAddressGob(Gob& gob, GobType type, BleAddress& address) {
    if (codeType(gob, type) != 0) {
        return -1;
    }
    return codeAddress(gob, address);
}

int codeAddressByteGob(Gob& gob, GobType type, BleAddress& address, uint8_t& byte) {
    if (codeAddressGob(gob, type, address) != 0) {
        return -1;
    }
    return codeU8(gob, byte);
}

int codeUuid(Gob& gob, UuidRecord& uuid) {
    // Checked before anything is written, and before any UUID byte is read, so that
    // nothing is ever stored past the record.
    if (gob.isWriting() && !isValidUuidLength(uuid.length)) {
        return -1;
    }
    if (codeU8(gob, uuid.length) != 0 || !isValidUuidLength(uuid.length)) {
        return -1;
    }
    return codeBytes(gob, uuid.bytes.data(), uuid.length);
}
