// The Linux search for the dongle: USB serial ports found in sysfs, and the pick among
// them. The roots are parameters so that tests can run the walk on a fake tree.
//
// Threads: plain functions of their arguments and the file system; any thread.
#pragma once

#include <string>
#include <vector>

// The dongle's USB ids (those the Windows driver binds).
constexpr const char* dongleVendorId = "2458";
constexpr const char* dongleProductId = "0001";

// A tty whose device sits on USB, with what its USB device tells about itself.
struct UsbSerialPort {
    std::string tty;          // "ttyACM0"
    std::string vendorId;     // idVendor, four hex digits as sysfs shows them
    std::string productId;    // idProduct
    std::string manufacturer; // empty when the device has none or it cannot be read
    std::string product;      // likewise
};

// The USB serial ports under `<sysRoot>/class/tty`, in the order of their tty names. A
// tty whose ids cannot be read is left out.
std::vector<UsbSerialPort> listUsbSerialPorts(const std::string& sysRoot);

// The path to open the first dongle of listUsbSerialPorts by: a link in
// `<devRoot>/serial/by-id/` or else `<devRoot>/serial/by-path/` that points at its tty,
// so that the dongle is found again after a reset re-enumerates it, or else
// `<devRoot>/<tty>`. Empty when there is no dongle.
std::string findDonglePortIn(const std::string& sysRoot, const std::string& devRoot);
