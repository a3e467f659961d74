// The attribute table of a virtual peripheral. See gatt_database.h.
#include "sim/gatt_database.h"

namespace sim {

bool Attribute::readable() const {
    return role != AttributeRole::Value || (characteristic->properties & property::read) != 0;
}

bool Attribute::writable(bool acknowledged) const {
    if (role == AttributeRole::ClientConfiguration) {
        return true;
    }
    if (role != AttributeRole::Value) {
        return false;
    }
    const uint8_t needed = acknowledged ? property::write : property::writeNoResponse;
    return (characteristic->properties & needed) != 0;
}

GattDatabase::GattDatabase(const std::vector<ServiceSpec>& services) {
    uint16_t handle = 1;
    for (const auto& service : services) {
        const size_t serviceAt = entries.size();
        entries.push_back({handle++, Uuid::from16(attType::primaryService), AttributeRole::Service,
                           service.uuid.wire(), 0, nullptr, 0});
        for (const auto& characteristic : service.characteristics) {
            const auto valueHandle = static_cast<uint16_t>(handle + 1);
            Bytes declaration{characteristic.properties, static_cast<uint8_t>(valueHandle & 0xFF),
                              static_cast<uint8_t>(valueHandle >> 8)};
            const Bytes uuid = characteristic.uuid.wire();
            declaration.insert(declaration.end(), uuid.begin(), uuid.end());
            entries.push_back({handle++, Uuid::from16(attType::characteristic),
                               AttributeRole::Declaration, declaration, 0, &characteristic,
                               valueHandle});
            entries.push_back({handle++, characteristic.uuid, AttributeRole::Value,
                               characteristic.value, 0, &characteristic, valueHandle});
            if ((characteristic.properties & (property::notify | property::indicate)) != 0) {
                entries.push_back({handle++,
                                   Uuid::from16(attType::clientConfiguration),
                                   AttributeRole::ClientConfiguration,
                                   {0x00, 0x00},
                                   0,
                                   &characteristic,
                                   valueHandle});
            }
        }
        entries[serviceAt].groupEnd = static_cast<uint16_t>(handle - 1);
    }
}

Attribute* GattDatabase::find(uint16_t handle) {
    if (handle == 0 || handle > entries.size()) {
        return nullptr;
    }
    return &entries[handle - 1];
}

Attribute* GattDatabase::configurationOf(uint16_t valueHandle) {
    Attribute* next = find(static_cast<uint16_t>(valueHandle + 1));
    if (next != nullptr && next->role == AttributeRole::ClientConfiguration &&
        next->valueHandle == valueHandle) {
        return next;
    }
    return nullptr;
}

void GattDatabase::clearConfigurations() {
    for (auto& attribute : entries) {
        if (attribute.role == AttributeRole::ClientConfiguration) {
            attribute.value = {0x00, 0x00};
        }
    }
}

} // namespace sim
