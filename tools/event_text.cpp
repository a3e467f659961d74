// Text and JSON forms of events.
#include "tools/event_text.h"

#include "linkrelay/overloaded.h"

#include "linkrelay/address_text.h"
#include "linkrelay/bytes_text.h"
#include "linkrelay/uuid_text.h"
#include "tools/json_text.h"

namespace linkrelay::cli {

namespace {

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

std::string scanText(const ScanResultEvent& scan) {
    const AdvertisingData& ad = scan.advertising;
    std::string text = formatAddress(scan.address) + " rssi " + std::to_string(scan.rssi);
    if (const std::optional<std::string> name = ad.name()) {
        text += " name " + quoted(*name);
    }
    if (!ad.serviceUuids.empty()) {
        text += " services " + uuidList(ad.serviceUuids);
    }
    if (ad.txPower) {
        text += " tx " + std::to_string(*ad.txPower);
    }
    for (const ManufacturerData& maker : ad.manufacturerData) {
        text += " manufacturer " +
                formatHexBytes(std::vector<uint8_t>{static_cast<uint8_t>(maker.companyId >> 8),
                                                    static_cast<uint8_t>(maker.companyId)}) +
                ":" + formatHexBytes(maker.bytes);
    }
    return text;
}

std::string manufacturerJson(const std::vector<ManufacturerData>& makers) {
    std::string json = "[";
    for (const ManufacturerData& maker : makers) {
        json += (json.size() > 1 ? "," : "") + JsonObject()
                                                   .add("company", int64_t{maker.companyId})
                                                   .add("data", formatHexBytes(maker.bytes))
                                                   .text();
    }
    return json + "]";
}

JsonObject scanJson(const ScanResultEvent& scan) {
    const AdvertisingData& ad = scan.advertising;
    JsonObject json;
    json.add("event", "scan")
        .add("address", formatAddress(scan.address))
        .add("rssi", int64_t{scan.rssi})
        .add("data", formatHexBytes(scan.data));
    if (const std::optional<std::string> name = ad.name()) {
        json.add("name", *name);
    }
    json.addRaw("services", jsonStringArray(uuidTexts(ad.serviceUuids)));
    if (ad.flags) {
        json.add("flags", int64_t{*ad.flags});
    }
    if (ad.txPower) {
        json.add("txPower", int64_t{*ad.txPower});
    }
    if (!ad.manufacturerData.empty()) {
        json.addRaw("manufacturer", manufacturerJson(ad.manufacturerData));
    }
    return json;
}

JsonObject withAddress(const char* name, const BleAddress& address) {
    JsonObject json;
    json.add("event", name).add("address", formatAddress(address));
    return json;
}

} // namespace

std::vector<std::string> uuidTexts(const std::vector<UuidRecord>& uuids) {
    std::vector<std::string> texts;
    texts.reserve(uuids.size());
    for (const UuidRecord& uuid : uuids) {
        texts.push_back(formatUuid(uuid));
    }
    return texts;
}

std::string uuidList(const std::vector<UuidRecord>& uuids) {
    std::string text;
    for (const std::string& uuid : uuidTexts(uuids)) {
        text += (text.empty() ? "" : ",") + uuid;
    }
    return text;
}

std::string valueText(std::span<const uint8_t> value) {
    std::string text = "0x" + formatHexBytes(value);
    if (isPrintableText(value)) {
        text += " " + quoted(std::string(value.begin(), value.end()));
    }
    return text;
}

std::string eventText(const Event& event) {
    const std::string details = std::visit(
        Overloaded{[](const StatusEvent& status) {
                       return "conduit " + std::to_string(status.conduitType) + ", state " +
                              std::to_string(status.conduitState) + " (" +
                              conduitStateName(status.conduitState) + ")";
                   },
                   [](const ScanResultEvent& scan) { return scanText(scan); },
                   [](const ConnectedEvent& connected) { return formatAddress(connected.address); },
                   [](const ServiceFoundEvent& service) {
                       return formatAddress(service.address) + " #" +
                              std::to_string(service.serviceIndex) + " " + formatUuid(service.uuid);
                   },
                   [](const CharacteristicFoundEvent& found) {
                       return formatAddress(found.address) + " #" + std::to_string(found.index) +
                              " " + formatUuid(found.uuid);
                   },
                   [](const DisconnectedEvent& gone) {
                       return formatAddress(gone.address) + " reason " +
                              std::to_string(gone.reason) + " (" +
                              disconnectReasonName(gone.reason) + ")";
                   },
                   [](const WriteDoneEvent& done) { return formatAddress(done.address); },
                   [](const AttributeValueEvent& value) {
                       return formatAddress(value.address) + " #" + std::to_string(value.index) +
                              " " + valueText(value.value);
                   },
                   [](const RssiEvent& rssi) {
                       return formatAddress(rssi.address) + " " + std::to_string(rssi.rssi);
                   }},
        event);
    return eventName(event) + ": " + details;
}

std::string eventJson(const Event& event) {
    const JsonObject json = std::visit(
        Overloaded{
            [](const StatusEvent& status) {
                JsonObject object;
                object.add("event", "status")
                    .add("conduitType", int64_t{status.conduitType})
                    .add("state", int64_t{status.conduitState})
                    .add("stateName", conduitStateName(status.conduitState));
                return object;
            },
            [](const ScanResultEvent& scan) { return scanJson(scan); },
            [](const ConnectedEvent& connected) {
                return withAddress("connected", connected.address);
            },
            [](const ServiceFoundEvent& service) {
                JsonObject object = withAddress("service", service.address);
                object.add("index", int64_t{service.serviceIndex})
                    .add("uuid", formatUuid(service.uuid));
                return object;
            },
            [](const CharacteristicFoundEvent& found) {
                JsonObject object = withAddress("characteristic", found.address);
                object.add("index", int64_t{found.index}).add("uuid", formatUuid(found.uuid));
                return object;
            },
            [](const DisconnectedEvent& gone) {
                JsonObject object = withAddress("disconnected", gone.address);
                object.add("reason", int64_t{gone.reason})
                    .add("reasonName", disconnectReasonName(gone.reason));
                return object;
            },
            [](const WriteDoneEvent& done) { return withAddress("write-done", done.address); },
            [](const AttributeValueEvent& value) {
                JsonObject object = withAddress("value", value.address);
                object.add("index", int64_t{value.index}).add("value", formatHexBytes(value.value));
                if (isPrintableText(value.value)) {
                    object.add("text", std::string(value.value.begin(), value.value.end()));
                }
                return object;
            },
            [](const RssiEvent& rssi) {
                JsonObject object = withAddress("rssi", rssi.address);
                object.add("rssi", int64_t{rssi.rssi});
                return object;
            }},
        event);
    return json.text();
}

} // namespace linkrelay::cli
