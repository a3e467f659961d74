// The built-in virtual peripherals. See peripheral.h.
#include "sim/peripheral.h"

#include <cstdio>

namespace sim {

namespace {

// An advertising-data structure: length, type, data.
Bytes adStructure(uint8_t type, const Bytes& data) {
    Bytes out{static_cast<uint8_t>(data.size() + 1), type};
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

Bytes adName(const std::string& name) {
    return adStructure(0x09, Bytes(name.begin(), name.end()));
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

const Bytes generalDiscoverable = adStructure(0x01, {0x06});

PeripheralSpec heartRateMonitor() {
    PeripheralSpec profile;
    profile.name = "Pulse HR";
    profile.address = *parseAddress("C4:7C:8D:6A:12:01");
    profile.advData = concat({generalDiscoverable, adStructure(0x03, {0x0D, 0x18, 0x0F, 0x18})});
    profile.scanResponseData = adName(profile.name);
    profile.advIntervalMs = 100;
    profile.rssi = -58;
    profile.bondable = true;
    CharacteristicSpec measurement{Uuid::from16(0x2A37), property::notify, {0x00, 72}, 1000, {}};
    for (const uint8_t bpm : {72, 74, 77, 75, 73, 71}) {
        measurement.valueSequence.push_back({0x00, bpm});
    }
    CharacteristicSpec location{Uuid::from16(0x2A38), property::read, {0x01}, 0, {}};
    CharacteristicSpec battery{
        Uuid::from16(0x2A19), property::read | property::notify, {87}, 0, {}};
    profile.services = {{Uuid::from16(0x180D), {measurement, location}},
                        {Uuid::from16(0x180F), {battery}}};
    return profile;
}

PeripheralSpec batterySensor() {
    PeripheralSpec profile;
    profile.name = "Thermo 7";
    profile.address = *parseAddress("D0:2B:20:11:30:07");
    profile.addressType = 1;
    profile.advData =
        concat({generalDiscoverable, adStructure(0x03, {0x0F, 0x18}), adName(profile.name)});
    profile.advIntervalMs = 250;
    profile.rssi = -71;
    CharacteristicSpec level{Uuid::from16(0x2A19),
                             property::read | property::notify,
                             {64},
                             5000,
                             {{64}, {63}, {63}, {62}}};
    profile.services = {{Uuid::from16(0x180F), {level}}};
    return profile;
}

PeripheralSpec echoDevice() {
    PeripheralSpec profile;
    profile.name = "Echo Pad";
    profile.address = *parseAddress("E8:1F:44:90:5B:3C");
    const Uuid service = *Uuid::parse("A5B1C000-1E7D-4B3A-9F2C-5D0E8B6A7C10");
    profile.advData = concat({generalDiscoverable, adStructure(0x07, service.wire())});
    profile.scanResponseData = adName(profile.name);
    profile.advIntervalMs = 150;
    profile.rssi = -64;
    CharacteristicSpec echo{*Uuid::parse("A5B1C001-1E7D-4B3A-9F2C-5D0E8B6A7C10"),
                            property::read | property::write | property::writeNoResponse |
                                property::notify,
                            {},
                            0,
                            {},
                            true};
    CharacteristicSpec serial{*Uuid::parse("A5B1C002-1E7D-4B3A-9F2C-5D0E8B6A7C10"),
                              property::read | property::indicate,
                              {'E', 'P', '-', '0', '0', '4', '2'},
                              0,
                              {}};
    profile.services = {{service, {echo, serial}}};
    return profile;
}

PeripheralSpec beacon() {
    PeripheralSpec profile;
    profile.name = "Beacon";
    profile.address = *parseAddress("F1:00:00:BE:AC:04");
    profile.addressType = 1;
    // Manufacturer-specific data with a made-up company id (0xFFFF, reserved for tests).
    profile.advData = concat(
        {adStructure(0x01, {0x04}), adStructure(0xFF, {0xFF, 0xFF, 0x02, 0x15, 0x10, 0x20, 0x30,
                                                       0x40, 0x00, 0x01, 0x00, 0x02, 0xC5})});
    profile.advIntervalMs = 300;
    profile.rssi = -80;
    profile.connectable = false;
    return profile;
}

} // namespace

std::optional<Address> parseAddress(std::string_view text) {
    if (text.size() != 17) {
        return std::nullopt;
    }
    Address address{};
    for (size_t i = 0; i < 6; ++i) {
        const int high = hexDigit(text[i * 3]);
        const int low = hexDigit(text[i * 3 + 1]);
        if (high < 0 || low < 0 || (i < 5 && text[i * 3 + 2] != ':')) {
            return std::nullopt;
        }
        address[5 - i] = static_cast<uint8_t>(high * 16 + low);
    }
    return address;
}

std::string addressText(const Address& address) {
    char buffer[18];
    std::snprintf(buffer, sizeof buffer, "%02X:%02X:%02X:%02X:%02X:%02X", address[5], address[4],
                  address[3], address[2], address[1], address[0]);
    return buffer;
}

std::vector<PeripheralSpec> builtinPeripherals() {
    return {heartRateMonitor(), batterySensor(), echoDevice(), beacon()};
}

} // namespace sim
