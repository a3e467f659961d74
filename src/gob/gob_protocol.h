// The numbers of the gob protocol, each named once: the type bytes, the status version,
// the conduit kinds and states, the disconnect reasons, the default TCP port and the
// size of the type and address that begin most gobs.
//
// Constants only; safe on any thread.
#pragma once

#include <cstdint>

// The type byte that begins every gob: requests 0 to 11, events 128 to 136.
enum GobType : uint8_t {
    GobStartScan = 0,
    GobStopScan = 1,
    GobConnect = 2,
    GobFindServices = 3,
    GobFindAttributes = 4,
    GobDisconnect = 5,
    GobRead = 6,
    GobWrite = 7,
    GobNotify = 8,
    GobIndicate = 9,
    GobUnsubscribe = 10,
    GobGetRssi = 11,
    GobStatus = 128,
    GobScanResult = 129,
    GobConnected = 130,
    GobServiceFound = 131,
    GobCharacteristicFound = 132,
    GobDisconnected = 133,
    GobWriteDone = 134,
    GobAttributeValue = 135,
    GobRssi = 136,
};

// The version byte that begins every GobStatus.
constexpr uint8_t GOB_PROTOCOL_VERSION = 1; // NOLINT(readability-identifier-naming)

// The conduit's kind as GobStatus carries it.
enum class ConduitKind : int32_t {
    Dongle = 1, // the BGAPI dongle conduit
};

// The conduit's state as GobStatus carries it.
enum class ConduitState : int32_t { Ready = 0, Failed = 1, NotReady = 2 };

// Why a connection ended, as GobDisconnected carries it.
enum class DisconnectReason : uint8_t {
    Local = 0, // ended by this host, or the address had no connection
    Remote = 1,
    SupervisionTimeout = 2,
    LinkLayerTimeout = 3,
    Other = 4,
};

// The TCP port on which the service listens unless told otherwise.
constexpr uint16_t gobDefaultPort = 9089;

// The type byte and the 6 address bytes that begin every gob about one device.
constexpr uint32_t gobTypeAndAddressSize = 7;
