// The Linux search for the dongle: a walk of sysfs's tty class for ttys on USB devices,
// and the stable /dev/serial link of the first one with the dongle's ids.
//
// A tty's `device` link leads to the USB interface (ttyACM) or to the usb-serial port
// below it (ttyUSB); the USB device with idVendor and idProduct is the nearest
// directory above it that has them. Ttys without a `device` link (virtual consoles) or
// without a USB device above it (built-in UARTs) are not USB serial ports.
//
// Threads: plain functions; any thread.
#include "conduit/serial/port_discovery_linux.h"

#include "conduit/serial/port_discovery.h"

#include <algorithm>
#include <array>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

// How far above a tty's device its USB device may sit (usb-serial ports: two levels).
constexpr int usbDeviceSearchDepth = 4;

// The first line of a sysfs attribute, or nothing when it cannot be read.
std::optional<std::string> readAttribute(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return std::nullopt;
    }
    std::array<char, 256> buffer{};
    const ssize_t got = ::read(fd, buffer.data(), buffer.size());
    ::close(fd);
    if (got < 0) {
        return std::nullopt;
    }
    std::string text(buffer.data(), static_cast<size_t>(got));
    text.erase(std::min(text.find('\n'), text.size()));
    return text;
}

// The USB device directory above a tty's device directory, or empty.
fs::path usbDeviceOf(const fs::path& ttyDevice) {
    fs::path at = ttyDevice;
    for (int level = 0; level <= usbDeviceSearchDepth && at.has_relative_path(); ++level) {
        std::error_code error;
        if (fs::exists(at / "idVendor", error) && fs::exists(at / "idProduct", error)) {
            return at;
        }
        at = at.parent_path();
    }
    return {};
}

std::optional<UsbSerialPort> usbSerialPort(const fs::path& ttyEntry) {
    std::error_code error;
    const fs::path device = fs::canonical(ttyEntry / "device", error);
    if (error) {
        return std::nullopt;
    }
    const fs::path usbDevice = usbDeviceOf(device);
    if (usbDevice.empty()) {
        return std::nullopt;
    }
    std::optional<std::string> vendorId = readAttribute(usbDevice / "idVendor");
    std::optional<std::string> productId = readAttribute(usbDevice / "idProduct");
    if (!vendorId || !productId) {
        return std::nullopt;
    }
    return UsbSerialPort{ttyEntry.filename().string(), *vendorId, *productId,
                         readAttribute(usbDevice / "manufacturer").value_or(""),
                         readAttribute(usbDevice / "product").value_or("")};
}

// A link in `linkDir` that resolves to `node`, the first by name; empty when none does.
std::string linkTo(const fs::path& linkDir, const fs::path& node) {
    std::error_code error;
    std::vector<fs::path> links;
    for (const fs::directory_entry& entry : fs::directory_iterator(linkDir, error)) {
        links.push_back(entry.path());
    }
    std::sort(links.begin(), links.end());
    const fs::path target = fs::weakly_canonical(node, error);
    for (const fs::path& link : links) {
        if (fs::is_symlink(link, error) && fs::weakly_canonical(link, error) == target) {
            return link.string();
        }
    }
    return {};
}

} // namespace

std::vector<UsbSerialPort> listUsbSerialPorts(const std::string& sysRoot) {
    std::error_code error;
    std::vector<fs::path> ttys;
    for (const fs::directory_entry& entry :
         fs::directory_iterator(fs::path(sysRoot) / "class" / "tty", error)) {
        ttys.push_back(entry.path());
    }
    std::sort(ttys.begin(), ttys.end());
    std::vector<UsbSerialPort> ports;
    for (const fs::path& tty : ttys) {
        if (std::optional<UsbSerialPort> port = usbSerialPort(tty)) {
            ports.push_back(std::move(*port));
        }
    }
    return ports;
}

std::string findDonglePortIn(const std::string& sysRoot, const std::string& devRoot) {
    for (const UsbSerialPort& port : listUsbSerialPorts(sysRoot)) {
        if (port.vendorId != dongleVendorId || port.productId != dongleProductId) {
            continue;
        }
        const fs::path node = fs::path(devRoot) / port.tty;
        for (const char* stable : {"by-id", "by-path"}) {
            std::string link = linkTo(fs::path(devRoot) / "serial" / stable, node);
            if (!link.empty()) {
                return link;
            }
        }
        return node.string();
    }
    return {};
}

std::string findDonglePort() {
    return findDonglePortIn("/sys", "/dev");
}
