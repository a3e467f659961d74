// Predicates over events.
#include "linkrelay/event_match.h"

namespace linkrelay {

namespace {

template <class T> EventMatcher matchAbout(const BleAddress& address) {
    return [address](const Event& event) {
        const T* typed = std::get_if<T>(&event);
        return typed != nullptr && typed->address == address;
    };
}

} // namespace

EventMatcher matchStatus() {
    return matchKind<StatusEvent>();
}

EventMatcher matchScanResult() {
    return matchKind<ScanResultEvent>();
}

EventMatcher matchConnected(const BleAddress& address) {
    return matchAbout<ConnectedEvent>(address);
}

EventMatcher matchServiceFound(const BleAddress& address) {
    return matchAbout<ServiceFoundEvent>(address);
}

EventMatcher matchCharacteristicFound(const BleAddress& address) {
    return matchAbout<CharacteristicFoundEvent>(address);
}

EventMatcher matchDisconnected(const BleAddress& address) {
    return matchAbout<DisconnectedEvent>(address);
}

EventMatcher matchWriteDone(const BleAddress& address) {
    return matchAbout<WriteDoneEvent>(address);
}

EventMatcher matchValue(const BleAddress& address, uint8_t index) {
    return [address, index](const Event& event) {
        const auto* value = std::get_if<AttributeValueEvent>(&event);
        return value != nullptr && value->address == address && value->index == index;
    };
}

EventMatcher matchRssi(const BleAddress& address) {
    return matchAbout<RssiEvent>(address);
}

std::optional<EventMatcher> matchNamed(const std::string& name) {
    const auto& names = eventNames();
    for (size_t kind = 0; kind < names.size(); ++kind) {
        if (name == names[kind]) {
            return [kind](const Event& event) { return event.index() == kind; };
        }
    }
    return std::nullopt;
}

} // namespace linkrelay
