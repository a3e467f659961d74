// Codecs and builders of the event gobs.
#include "gob/gob_events.h"

#include "gob/gob_fields.h"

#include <algorithm>

namespace {

int codeByteField(Gob& gob, GobByteField& field) {
    if (codeU8(gob, field.length) != 0) {
        return -1;
    }
    return codeBytes(gob, field.bytes.data(), field.length);
}

int makeByteField(const uint8_t* bytes, uint32_t length, GobByteField& field) {
    if (length > field.bytes.size()) {
        return -1;
    }
    field.length = static_cast<uint8_t>(length);
    std::copy_n(bytes, length, field.bytes.data());
    return 0;
}

} // namespace

int codeGobStatus(Gob& gob, int32_t& conduitType, int32_t& conduitState) {
    if (!gob.isWriting() && gob.size() != 4) {
        return -1;
    }
    uint8_t version = GOB_PROTOCOL_VERSION;
    auto typeByte = static_cast<uint8_t>(conduitType);
    auto stateByte = static_cast<uint8_t>(conduitState);
    if (codeType(gob, GobStatus) != 0 || codeU8(gob, version) != 0 ||
        version != GOB_PROTOCOL_VERSION || codeU8(gob, typeByte) != 0 ||
        codeU8(gob, stateByte) != 0) {
        return -1;
    }
    if (!gob.isWriting()) {
        conduitType = typeByte;
        conduitState = stateByte;
    }
    return 0;
}

int codeGobScanResult(Gob& gob, BleAddress& address, GobByteField& data, uint8_t& rssi) {
    if (codeAddressGob(gob, GobScanResult, address) != 0 || codeByteField(gob, data) != 0) {
        return -1;
    }
    return codeU8(gob, rssi);
}

int codeGobConnected(Gob& gob, BleAddress& address) {
    return codeAddressGob(gob, GobConnected, address);
}

int codeGobServiceFound(Gob& gob, BleAddress& address, uint8_t& serviceIndex, UuidRecord& uuid) {
    if (codeAddressByteGob(gob, GobServiceFound, address, serviceIndex) != 0) {
        return -1;
    }
    return codeUuid(gob, uuid);
}

int codeGobCharacteristicFound(Gob& gob, BleAddress& address, uint8_t& index, UuidRecord& uuid) {
    if (codeAddressByteGob(gob, GobCharacteristicFound, address, index) != 0) {
        return -1;
    }
    return codeUuid(gob, uuid);
}

int codeGobDisconnected(Gob& gob, BleAddress& address, uint8_t& reason) {
    return codeAddressByteGob(gob, GobDisconnected, address, reason);
}

int codeGobWriteDone(Gob& gob, BleAddress& address) {
    return codeAddressGob(gob, GobWriteDone, address);
}

int codeGobAttributeValue(Gob& gob, BleAddress& address, uint8_t& index, GobByteField& value) {
    if (codeAddressByteGob(gob, GobAttributeValue, address, index) != 0) {
        return -1;
    }
    return codeByteField(gob, value);
}

int codeGobRssi(Gob& gob, BleAddress& address, uint8_t& rssi) {
    return codeAddressByteGob(gob, GobRssi, address, rssi);
}

int buildStatusGob(Gob& gob, ConduitKind conduitType, ConduitState conduitState) {
    auto typeWord = static_cast<int32_t>(conduitType);
    auto stateWord = static_cast<int32_t>(conduitState);
    return codeGobStatus(gob, typeWord, stateWord);
}

int buildScanResultGob(Gob& gob, const BleAddress& address, const uint8_t* data,
                       uint32_t dataLength, int8_t rssi) {
    GobByteField field;
    if (makeByteField(data, dataLength, field) != 0) {
        return -1;
    }
    BleAddress addressField = address;
    auto rssiByte = static_cast<uint8_t>(rssi);
    return codeGobScanResult(gob, addressField, field, rssiByte);
}

int buildConnectedGob(Gob& gob, const BleAddress& address) {
    BleAddress addressField = address;
    return codeGobConnected(gob, addressField);
}

int buildServiceFoundGob(Gob& gob, const BleAddress& address, uint8_t serviceIndex,
                         const UuidRecord& uuid) {
    BleAddress addressField = address;
    UuidRecord uuidField = uuid;
    return codeGobServiceFound(gob, addressField, serviceIndex, uuidField);
}

int buildCharacteristicFoundGob(Gob& gob, const BleAddress& address, uint8_t index,
                                const UuidRecord& uuid) {
    BleAddress addressField = address;
    UuidRecord uuidField = uuid;
    return codeGobCharacteristicFound(gob, addressField, index, uuidField);
}

int buildDisconnectedGob(Gob& gob, const BleAddress& address, uint8_t reason) {
    BleAddress addressField = address;
    return codeGobDisconnected(gob, addressField, reason);
}

int buildWriteDoneGob(Gob& gob, const BleAddress& address) {
    BleAddress addressField = address;
    return codeGobWriteDone(gob, addressField);
}

int buildAttributeValueGob(Gob& gob, const BleAddress& address, uint8_t index, const uint8_t* value,
                           uint32_t valueLength) {
    GobByteField field;
    if (makeByteField(value, valueLength, field) != 0) {
        return -1;
    }
    BleAddress addressField = address;
    return codeGobAttributeValue(gob, addressField, index, field);
}

int buildRssiGob(Gob& gob, const BleAddress& address, int8_t rssi) {
    BleAddress addressField = address;
    auto rssiByte = static_cast<uint8_t>(rssi);
    return codeGobRssi(gob, addressField, rssiByte);
}
