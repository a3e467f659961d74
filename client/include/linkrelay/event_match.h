// Tests that pick out the event answering a request, for the waits of Client and of the
// command-line tool. Each factory returns a predicate over events.
//
// Pure functions; the predicates hold copies of their arguments and are safe on any thread.
#pragma once

#include "linkrelay/client_events.h"

#include <functional>
#include <optional>
#include <string>

namespace linkrelay {

using EventMatcher = std::function<bool(const Event&)>;

EventMatcher matchStatus();
EventMatcher matchScanResult();
EventMatcher matchConnected(const BleAddress& address);
EventMatcher matchServiceFound(const BleAddress& address);
EventMatcher matchCharacteristicFound(const BleAddress& address);
EventMatcher matchDisconnected(const BleAddress& address);
EventMatcher matchWriteDone(const BleAddress& address);
// A value of one characteristic of the device: a read result or a notification.
EventMatcher matchValue(const BleAddress& address, uint8_t index);
EventMatcher matchRssi(const BleAddress& address);

// Any event of the kind that eventName calls `name`; nothing for an unknown name.
std::optional<EventMatcher> matchNamed(const std::string& name);

// An event of the alternative T of Event, for any address.
template <class T> EventMatcher matchKind() {
    return [](const Event& event) { return std::holds_alternative<T>(event); };
}

} // namespace linkrelay
