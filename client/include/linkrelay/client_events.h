// The events that the service sends to a client, as typed values, and their decoding
// from event gobs (types 128 to 136).
//
// Plain values and pure functions; safe on any thread.
#pragma once

#include "gob/ble_types.h"
#include "gob/gob.h"
#include "linkrelay/advertising.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace linkrelay {

// The codec's device address and UUID types, by their names in this library.
using ::BleAddress;
using ::UuidRecord;

// The conduit's state as GobStatus carries it.
enum class ConduitState : int32_t { Ready = 0, Failed = 1, NotReady = 2 };

struct StatusEvent {
    int32_t conduitType = 0;  // 1: the BGAPI dongle conduit
    int32_t conduitState = 0; // a ConduitState value

    bool ready() const { return conduitState == static_cast<int32_t>(ConduitState::Ready); }
};

struct ScanResultEvent {
    BleAddress address;
    std::vector<uint8_t> data;   // the advertising data as received
    int8_t rssi = 0;             // dBm
    AdvertisingData advertising; // `data` decoded
};

struct ConnectedEvent {
    BleAddress address;
};

struct ServiceFoundEvent {
    BleAddress address;
    uint8_t serviceIndex = 0;
    UuidRecord uuid;
};

struct CharacteristicFoundEvent {
    BleAddress address;
    uint8_t index = 0; // names the characteristic in later requests on this connection
    UuidRecord uuid;
};

// Why a connection ended, as GobDisconnected carries it.
enum class DisconnectReason : uint8_t {
    Local = 0, // ended by this host, or the address had no connection
    Remote = 1,
    SupervisionTimeout = 2,
    LinkLayerTimeout = 3,
    Other = 4,
};

struct DisconnectedEvent {
    BleAddress address;
    uint8_t reason = 0; // a DisconnectReason value
};

struct WriteDoneEvent {
    BleAddress address;
};

// A read result, a notification or an indication.
struct AttributeValueEvent {
    BleAddress address;
    uint8_t index = 0;
    std::vector<uint8_t> value;
};

struct RssiEvent {
    BleAddress address;
    int8_t rssi = 0; // dBm
};

using Event = std::variant<StatusEvent, ScanResultEvent, ConnectedEvent, ServiceFoundEvent,
                           CharacteristicFoundEvent, DisconnectedEvent, WriteDoneEvent,
                           AttributeValueEvent, RssiEvent>;

// Decodes one event gob (in reading mode, cursor at 0). Nothing when its type is not an
// event type or its content does not fit the type's layout.
std::optional<Event> decodeEvent(Gob& gob);

// Short lower-case names, as the command-line tool prints them: "status", "scan",
// "connected", "service", "characteristic", "disconnected", "write-done", "value", "rssi".
std::string eventName(const Event& event);

// Those names, in the order of Event's alternatives.
const std::array<const char*, std::variant_size_v<Event>>& eventNames();

// "ready", "failed", "not ready", or "unknown".
std::string conduitStateName(int32_t state);

// "local", "remote", "supervision timeout", "link layer timeout", "other", or "unknown".
std::string disconnectReasonName(uint8_t reason);

// The device address that the event is about; nothing for a status.
std::optional<BleAddress> eventAddress(const Event& event);

} // namespace linkrelay
