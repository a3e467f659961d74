// The Windows search for the dongle: every present device of the Ports setup class, in
// enumeration order, until one's friendly name is the dongle's.
//
// Threads: plain functions; any thread.
#include "conduit/serial/port_discovery_win32.h"

#include "conduit/serial/friendly_name.h"
#include "conduit/serial/port_discovery.h"

#include <windows.h>

#include <setupapi.h>

#include <string>
#include <vector>

namespace {

// The Ports device-setup class {4D36E978-E325-11CE-BFC1-08002BE10318}.
constexpr GUID portsClass = {
    0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// The device's port number when its friendly name is the dongle's, else -1. The name
// is read into a zeroed buffer one byte longer than the property, so it is terminated
// even when the property is not.
int dongleComPortOf(HDEVINFO devices, SP_DEVINFO_DATA& device) {
    DWORD required = 0;
    SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_FRIENDLYNAME, nullptr, nullptr, 0,
                                      &required);
    const DWORD size = required > 0 ? required : 1;
    std::vector<BYTE> name(size + 1, 0);
    if (!SetupDiGetDeviceRegistryPropertyA(devices, &device, SPDRP_FRIENDLYNAME, nullptr,
                                           name.data(), size, nullptr)) {
        return -1;
    }
    return dongleComPort(reinterpret_cast<const char*>(name.data()));
}

} // namespace

int findSerialPort() {
    HDEVINFO devices = SetupDiGetClassDevsW(&portsClass, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE) {
        return -1;
    }
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD index = 0; SetupDiEnumDeviceInfo(devices, index, &device); ++index) {
        const int port = dongleComPortOf(devices, device);
        if (port >= 0) {
            SetupDiDestroyDeviceInfoList(devices);
            return port;
        }
    }
    SetupDiDestroyDeviceInfoList(devices);
    return -1;
}

std::string findDonglePort() {
    const int port = findSerialPort();
    return port < 0 ? std::string() : "COM" + std::to_string(port);
}
