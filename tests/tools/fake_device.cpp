// The fake device's answers.
#include "fake_device.h"

#include "event_frames.h"
#include "gob/gob_requests.h"
#include "linkrelay/address_text.h"
#include "linkrelay/uuid_text.h"

using linkrelay::parseAddress;
using linkrelay::parseUuid;
using linkrelay::sameUuid;

namespace {

const BleAddress pulse = *parseAddress("C0:11:22:33:44:55");
const BleAddress thermo = *parseAddress("D0:00:00:00:00:01");

// The address of a request that carries one (every type but the scan requests).
BleAddress addressOf(const Gob& request) {
    BleAddress address;
    std::copy_n(request.storage() + 1, 6, address.bytes.begin());
    return address;
}

std::vector<Bytes> scanResults() {
    return {scanResultFrame(pulse, {0x02, 0x01, 0x06, 0x03, 0x03, 0x0D, 0x18}, -60),
            scanResultFrame(pulse, {0x06, 0x09, 'P', 'u', 'l', 's', 'e'}, -62),
            scanResultFrame(
                thermo, {0x07, 0x09, 'T', 'h', 'e', 'r', 'm', 'o', 0x03, 0x03, 0x09, 0x18}, -75)};
}

std::vector<Bytes> characteristicsFound(const Gob& request) {
    Gob copy = Gob::forReading(request.storage(), request.size(), false);
    BleAddress address;
    std::vector<UuidRecord> uuids;
    if (codeGobFindAttributes(copy, address, uuids) != 0) {
        return {Bytes{}};
    }
    std::vector<Bytes> found;
    for (const UuidRecord& uuid : uuids) {
        if (sameUuid(uuid, *parseUuid("2a37"))) {
            found.push_back(characteristicFoundFrame(address, 0, uuid));
        } else if (sameUuid(uuid, *parseUuid("2a39"))) {
            found.push_back(characteristicFoundFrame(address, 1, uuid));
        }
    }
    return found;
}

} // namespace

std::vector<Bytes> FakeDevice::answer(const Gob& request) const {
    const uint8_t type = request.storage()[0];
    if (refused.contains(type)) {
        return {Bytes{}};
    }
    if (silent.contains(type)) {
        return {};
    }
    if (type == GobStartScan) {
        return scanResults();
    }
    if (type == GobStopScan || request.size() < 7) {
        return {};
    }
    const BleAddress address = addressOf(request);
    switch (type) {
    case GobConnect:
        return {connectedFrame(address)};
    case GobFindServices:
        return {serviceFoundFrame(address, 0, shortUuid(0x1800)),
                serviceFoundFrame(address, 1, shortUuid(0x180D))};
    case GobFindAttributes:
        return characteristicsFound(request);
    case GobRead:
        return {attributeValueFrame(address, request.storage()[7],
                                    request.storage()[7] == 1 ? Bytes{0x01} : Bytes{0x00, 0x40})};
    case GobNotify:
        return {writeDoneFrame(address), attributeValueFrame(address, 0, {0x00, 0x48}),
                attributeValueFrame(address, 0, {0x00, 0x4A})};
    case GobWrite:
    case GobIndicate:
    case GobUnsubscribe:
        return {writeDoneFrame(address)};
    case GobGetRssi:
        return {rssiFrame(address, -58)};
    case GobDisconnect:
        return {disconnectedFrame(address, 0)};
    default:
        return {};
    }
}
