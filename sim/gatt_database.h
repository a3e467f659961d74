// The attribute table one virtual peripheral serves, built from its ServiceSpecs.
//
// Layout per service: the primary service declaration (0x2800), then per
// characteristic its declaration (0x2803), its value, and, for a characteristic that
// notifies or indicates, the client characteristic configuration descriptor (0x2902)
// right after the value handle. Handles count from 1 without gaps.
//
// Threads: owned by the SimDevice, used on its thread only.
#pragma once

#include "sim/peripheral.h"

#include <cstdint>
#include <vector>

namespace sim {

namespace attType {
constexpr uint16_t primaryService = 0x2800;
constexpr uint16_t secondaryService = 0x2801;
constexpr uint16_t characteristic = 0x2803;
constexpr uint16_t clientConfiguration = 0x2902;
} // namespace attType

enum class AttributeRole { Service, Declaration, Value, ClientConfiguration };

struct Attribute {
    uint16_t handle = 0;
    Uuid type;
    AttributeRole role = AttributeRole::Service;
    Bytes value;
    uint16_t groupEnd = 0;                              // Service: the last handle of the service
    const CharacteristicSpec* characteristic = nullptr; // Value and ClientConfiguration
    uint16_t valueHandle = 0; // ClientConfiguration: the value it configures

    bool readable() const;
    // Writable by a write request (acknowledged) or by a write command.
    bool writable(bool acknowledged) const;
};

class GattDatabase {
public:
    explicit GattDatabase(const std::vector<ServiceSpec>& services);

    Attribute* find(uint16_t handle);
    std::vector<Attribute>& attributes() { return entries; }
    // The configuration descriptor of a value handle, or null.
    Attribute* configurationOf(uint16_t valueHandle);
    // Clears every client configuration (a link ended; nothing is bonded).
    void clearConfigurations();

private:
    std::vector<Attribute> entries;
};

} // namespace sim
