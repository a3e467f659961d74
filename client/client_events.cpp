// Decoding of event gobs into typed events.
#include "linkrelay/client_events.h"

#include "linkrelay/overloaded.h"

#include "gob/gob_events.h"

#include <array>

namespace linkrelay {

namespace {

std::vector<uint8_t> bytesOf(const GobByteField& field) {
    return {field.bytes.begin(), field.bytes.begin() + field.length};
}

std::optional<Event> decodeStatus(Gob& gob) {
    StatusEvent event;
    if (codeGobStatus(gob, event.conduitType, event.conduitState) != 0) {
        return std::nullopt;
    }
    return event;
}

std::optional<Event> decodeScanResult(Gob& gob) {
    ScanResultEvent event;
    GobByteField data;
    uint8_t rssi = 0;
    if (codeGobScanResult(gob, event.address, data, rssi) != 0) {
        return std::nullopt;
    }
    event.data = bytesOf(data);
    event.rssi = static_cast<int8_t>(rssi);
    event.advertising = decodeAdvertising(event.data);
    return event;
}

std::optional<Event> decodeConnected(Gob& gob) {
    ConnectedEvent event;
    if (codeGobConnected(gob, event.address) != 0) {
        return std::nullopt;
    }
    return event;
}

std::optional<Event> decodeServiceFound(Gob& gob) {
    ServiceFoundEvent event;
    if (codeGobServiceFound(gob, event.address, event.serviceIndex, event.uuid) != 0) {
        return std::nullopt;
    }
    return event;
}

std::optional<Event> decodeCharacteristicFound(Gob& gob) {
    CharacteristicFoundEvent event;
    if (codeGobCharacteristicFound(gob, event.address, event.index, event.uuid) != 0) {
        return std::nullopt;
    }
    return event;
}

std::optional<Event> decodeDisconnected(Gob& gob) {
    DisconnectedEvent event;
    if (codeGobDisconnected(gob, event.address, event.reason) != 0) {
        return std::nullopt;
    }
    return event;
}

std::optional<Event> decodeWriteDone(Gob& gob) {
    WriteDoneEvent event;
    if (codeGobWriteDone(gob, event.address) != 0) {
        return std::nullopt;
    }
    return event;
}

std::optional<Event> decodeAttributeValue(Gob& gob) {
    AttributeValueEvent event;
    GobByteField value;
    if (codeGobAttributeValue(gob, event.address, event.index, value) != 0) {
        return std::nullopt;
    }
    event.value = bytesOf(value);
    return event;
}

std::optional<Event> decodeRssi(Gob& gob) {
    RssiEvent event;
    uint8_t rssi = 0;
    if (codeGobRssi(gob, event.address, rssi) != 0) {
        return std::nullopt;
    }
    event.rssi = static_cast<int8_t>(rssi);
    return event;
}

} // namespace

std::optional<Event> decodeEvent(Gob& gob) {
    if (gob.size() == 0) {
        return std::nullopt;
    }
    switch (gob.storage()[0]) {
    case GobStatus:
        return decodeStatus(gob);
    case GobScanResult:
        return decodeScanResult(gob);
    case GobConnected:
        return decodeConnected(gob);
    case GobServiceFound:
        return decodeServiceFound(gob);
    case GobCharacteristicFound:
        return decodeCharacteristicFound(gob);
    case GobDisconnected:
        return decodeDisconnected(gob);
    case GobWriteDone:
        return decodeWriteDone(gob);
    case GobAttributeValue:
        return decodeAttributeValue(gob);
    case GobRssi:
        return decodeRssi(gob);
    default:
        return std::nullopt;
    }
}

const std::array<const char*, std::variant_size_v<Event>>& eventNames() {
    static const std::array<const char*, std::variant_size_v<Event>> names = {
        "status",       "scan",       "connected", "service", "characteristic",
        "disconnected", "write-done", "value",     "rssi"};
    return names;
}

std::string eventName(const Event& event) {
    return eventNames()[event.index()];
}

std::string conduitStateName(int32_t state) {
    switch (static_cast<ConduitState>(state)) {
    case ConduitState::Ready:
        return "ready";
    case ConduitState::Failed:
        return "failed";
    case ConduitState::NotReady:
        return "not ready";
    }
    return "unknown";
}

std::string disconnectReasonName(uint8_t reason) {
    switch (static_cast<DisconnectReason>(reason)) {
    case DisconnectReason::Local:
        return "local";
    case DisconnectReason::Remote:
        return "remote";
    case DisconnectReason::SupervisionTimeout:
        return "supervision timeout";
    case DisconnectReason::LinkLayerTimeout:
        return "link layer timeout";
    case DisconnectReason::Other:
        return "other";
    }
    return "unknown";
}

std::optional<BleAddress> eventAddress(const Event& event) {
    return std::visit(
        Overloaded{[](const StatusEvent&) -> std::optional<BleAddress> { return std::nullopt; },
                   [](const auto& withAddress) -> std::optional<BleAddress> {
                       return withAddress.address;
                   }},
        event);
}

} // namespace linkrelay
