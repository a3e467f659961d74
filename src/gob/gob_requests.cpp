// Codecs of the request gobs.
#include "gob/gob_requests.h"

#include "gob/gob_fields.h"

namespace {

// Reading: -1 on failure, 1 when unread bytes remain after the entry, 0 when the entry
// ended exactly at the end of the gob.
int readUuidEntry(Gob& gob, std::vector<UuidRecord>& uuids) {
    uuids.emplace_back();
    if (codeUuid(gob, uuids.back()) != 0) {
        return -1;
    }
    return gob.atEnd() ? 0 : 1;
}

int codeUuidEntries(Gob& gob, std::vector<UuidRecord>& uuids) {
    if (gob.isWriting()) {
        for (UuidRecord& uuid : uuids) {
            if (codeUuid(gob, uuid) != 0) {
                return -1;
            }
        }
        return 0;
    }
    uuids.clear();
    int status = 1;
    while (status == 1 && uuids.size() < maxFindAttributesUuids) {
        status = readUuidEntry(gob, uuids);
    }
    return status == 0 ? 0 : -1; // 1: entries left past the most allowed
}

int writePayload(Gob& gob, const uint8_t* payload, uint32_t payloadLength) {
    for (uint32_t i = 0; i < payloadLength; ++i) {
        uint8_t byte = payload[i];
        codeU8(gob, byte);
    }
    return 0;
}

} // namespace

int codeGobStartScan(Gob& gob) {
    return codeType(gob, GobStartScan);
}

int codeGobStopScan(Gob& gob) {
    return codeType(gob, GobStopScan);
}

int codeGobConnect(Gob& gob, BleAddress& address, uint32_t& connIntervalMin,
                   uint32_t& connIntervalMax, uint32_t& supervisionTimeout,
                   uint32_t& slaveLatency) {
    if (codeAddressGob(gob, GobConnect, address) != 0 || codeU32(gob, connIntervalMin) != 0 ||
        codeU32(gob, connIntervalMax) != 0 || codeU32(gob, supervisionTimeout) != 0) {
        return -1;
    }
    return codeU32(gob, slaveLatency);
}

int codeGobFindServices(Gob& gob, BleAddress& address) {
    return codeAddressGob(gob, GobFindServices, address);
}

int codeGobFindAttributes(Gob& gob, BleAddress& address, std::vector<UuidRecord>& uuids) {
    if (gob.isWriting() && (uuids.empty() || uuids.size() > maxFindAttributesUuids)) {
        return -1;
    }
    if (codeAddressGob(gob, GobFindAttributes, address) != 0) {
        return -1;
    }
    gob.skipByte();
    return codeUuidEntries(gob, uuids);
}

int codeGobDisconnect(Gob& gob, BleAddress& address) {
    return codeAddressGob(gob, GobDisconnect, address);
}

int codeGobRead(Gob& gob, BleAddress& address, uint8_t& index) {
    return codeAddressByteGob(gob, GobRead, address, index);
}

int codeGobWrite(Gob& gob, BleAddress& address, uint8_t& index, bool& withResponse,
                 const uint8_t*& payload, uint32_t& payloadLength) {
    uint8_t responseByte = withResponse ? 1 : 0;
    if (codeAddressByteGob(gob, GobWrite, address, index) != 0 || codeU8(gob, responseByte) != 0) {
        return -1;
    }
    if (gob.isWriting()) {
        return writePayload(gob, payload, payloadLength);
    }
    withResponse = responseByte != 0;
    return gob.takeRest(payload, payloadLength);
}

int codeGobNotify(Gob& gob, BleAddress& address, uint8_t& index) {
    return codeAddressByteGob(gob, GobNotify, address, index);
}

int codeGobIndicate(Gob& gob, BleAddress& address, uint8_t& index) {
    return codeAddressByteGob(gob, GobIndicate, address, index);
}

int codeGobUnsubscribe(Gob& gob, BleAddress& address, uint8_t& index) {
    return codeAddressByteGob(gob, GobUnsubscribe, address, index);
}

int codeGobGetRssi(Gob& gob, BleAddress& address) {
    return codeAddressGob(gob, GobGetRssi, address);
}
