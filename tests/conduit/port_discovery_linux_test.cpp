// The sysfs walk on fake trees laid out as the kernel lays out sysfs and udev /dev.
#include "conduit/serial/port_discovery_linux.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

struct UsbIds {
    std::string vendor;
    std::string product;
    std::string manufacturer;
    std::string productName;
};

const UsbIds dongle = {"2458", "0001", "Bluegiga", "Low Energy Dongle"};
const UsbIds ftdi = {"0403", "6001", "FTDI", "FT232R USB UART"};
const UsbIds modem = {"1199", "9071", "Sierra Wireless, Incorporated", "EM7455"};

class FakeSystem : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() /
               ("linkrelay-discovery-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root);
        fs::create_directories(sys() / "class" / "tty");
        fs::create_directories(dev());
    }
    void TearDown() override { fs::remove_all(root); }

    fs::path sys() const { return root / "sys"; }
    fs::path dev() const { return root / "dev"; }

    static void write(const fs::path& file, const std::string& text) {
        std::ofstream(file) << text << "\n";
    }

    // A USB device at bus port `usbPort` with the given ids; its directory.
    fs::path addUsbDevice(const std::string& usbPort, const UsbIds& ids) {
        fs::path device = sys() / "devices/pci0000:00/0000:00:14.0/usb1" / usbPort;
        fs::create_directories(device);
        write(device / "idVendor", ids.vendor);
        write(device / "idProduct", ids.product);
        write(device / "manufacturer", ids.manufacturer);
        write(device / "product", ids.productName);
        return device;
    }

    // A CDC ACM tty: the class entry's `device` points at the USB interface.
    void addAcm(const std::string& tty, const std::string& usbPort, const UsbIds& ids) {
        const fs::path interface = addUsbDevice(usbPort, ids) / (usbPort + ":1.0");
        fs::create_directories(interface / "tty" / tty);
        addClassEntry(tty, interface);
    }

    // A usb-serial tty: `device` points at the port below the USB interface.
    void addUsbSerial(const std::string& tty, const std::string& usbPort, const UsbIds& ids) {
        const fs::path port = addUsbDevice(usbPort, ids) / (usbPort + ":1.0") / tty;
        fs::create_directories(port);
        addClassEntry(tty, port);
    }

    // A built-in UART: not on USB.
    void addUart(const std::string& tty) {
        const fs::path device = sys() / "devices/platform/serial8250";
        fs::create_directories(device);
        addClassEntry(tty, device);
    }

    void addClassEntry(const std::string& tty, const fs::path& device) {
        const fs::path entry = sys() / "class" / "tty" / tty;
        fs::create_directories(entry);
        fs::create_symlink(fs::relative(device, entry), entry / "device");
        write(dev() / tty, "");
    }

    // A udev-style relative link /dev/serial/<kind>/<name> -> ../../<tty>.
    void addStableLink(const std::string& kind, const std::string& name, const std::string& tty) {
        fs::create_directories(dev() / "serial" / kind);
        fs::create_symlink(fs::path("../..") / tty, dev() / "serial" / kind / name);
    }

    std::string find() const { return findDonglePortIn(sys().string(), dev().string()); }

    fs::path root;
};

TEST_F(FakeSystem, ListsUsbSerialPortsWithTheirIdsAndStringsOnly) {
    addAcm("ttyACM0", "1-2", modem);
    addUsbSerial("ttyUSB0", "1-3", ftdi);
    addUart("ttyS0");
    fs::create_directories(sys() / "class/tty/tty0"); // a virtual console: no device

    const std::vector<UsbSerialPort> ports = listUsbSerialPorts(sys().string());
    ASSERT_EQ(ports.size(), 2U);
    EXPECT_EQ(ports[0].tty, "ttyACM0");
    EXPECT_EQ(ports[0].vendorId, "1199");
    EXPECT_EQ(ports[0].productId, "9071");
    EXPECT_EQ(ports[0].manufacturer, "Sierra Wireless, Incorporated");
    EXPECT_EQ(ports[1].tty, "ttyUSB0");
    EXPECT_EQ(ports[1].vendorId, "0403");
    EXPECT_EQ(ports[1].product, "FT232R USB UART");
}

TEST_F(FakeSystem, NoDongleAmongOtherSerialPortsFindsNothing) {
    addAcm("ttyACM0", "1-2", modem);
    addUsbSerial("ttyUSB0", "1-3", ftdi);
    addUart("ttyS0");
    EXPECT_EQ(find(), "");
}

TEST_F(FakeSystem, EmptyOrMissingTreesFindNothing) {
    EXPECT_EQ(find(), "");
    EXPECT_TRUE(listUsbSerialPorts((root / "absent").string()).empty());
    EXPECT_EQ(findDonglePortIn((root / "absent").string(), dev().string()), "");
}

TEST_F(FakeSystem, DongleIsFoundBehindOtherDevicesAndTheFirstOfTwoWins) {
    addAcm("ttyACM0", "1-2", modem);
    addAcm("ttyACM2", "1-5", dongle);
    addAcm("ttyACM1", "1-4", dongle);
    addUsbSerial("ttyUSB0", "1-3", ftdi);
    EXPECT_EQ(find(), (dev() / "ttyACM1").string());
}

TEST_F(FakeSystem, SameVendorOtherProductIsNotTheDongle) {
    addAcm("ttyACM0", "1-2", {"2458", "0002", "Bluegiga", "Other"});
    addAcm("ttyACM1", "1-3", {"2459", "0001", "Other", "Other"});
    EXPECT_EQ(find(), "");
}

TEST_F(FakeSystem, UnreadableAttributesLeaveOutOnlyWhatCannotBeRead) {
    // The first dongle's product id cannot be read (a directory where a file should be);
    // the second dongle's strings cannot: it is still the dongle.
    addAcm("ttyACM0", "1-2", dongle);
    const fs::path broken = sys() / "devices/pci0000:00/0000:00:14.0/usb1/1-2";
    fs::remove(broken / "idProduct");
    fs::create_directory(broken / "idProduct");
    addAcm("ttyACM1", "1-3", dongle);
    const fs::path quiet = sys() / "devices/pci0000:00/0000:00:14.0/usb1/1-3";
    fs::remove(quiet / "manufacturer");
    fs::remove(quiet / "product");
    fs::create_directory_symlink(root / "nowhere", quiet / "product");

    const std::vector<UsbSerialPort> ports = listUsbSerialPorts(sys().string());
    ASSERT_EQ(ports.size(), 1U);
    EXPECT_EQ(ports[0].tty, "ttyACM1");
    EXPECT_EQ(ports[0].manufacturer, "");
    EXPECT_EQ(ports[0].product, "");
    EXPECT_EQ(find(), (dev() / "ttyACM1").string());
}

TEST_F(FakeSystem, DanglingDeviceLinkIsSkipped) {
    const fs::path entry = sys() / "class/tty/ttyACM0";
    fs::create_directories(entry);
    fs::create_symlink(root / "gone", entry / "device");
    addAcm("ttyACM1", "1-3", dongle);
    EXPECT_EQ(find(), (dev() / "ttyACM1").string());
}

TEST_F(FakeSystem, ByIdLinkIsPreferredThenByPathThenTheNode) {
    addAcm("ttyACM0", "1-2", modem);
    addAcm("ttyACM1", "1-3", dongle);
    EXPECT_EQ(find(), (dev() / "ttyACM1").string());

    addStableLink("by-path", "pci-0000:00:14.0-usb-0:3:1.0", "ttyACM1");
    addStableLink("by-path", "pci-0000:00:14.0-usb-0:2:1.0", "ttyACM0");
    EXPECT_EQ(find(), (dev() / "serial/by-path/pci-0000:00:14.0-usb-0:3:1.0").string());

    addStableLink("by-id", "usb-Sierra_Wireless_EM7455-if00", "ttyACM0");
    addStableLink("by-id", "usb-Bluegiga_Low_Energy_Dongle_1-if00", "ttyACM1");
    EXPECT_EQ(find(), (dev() / "serial/by-id/usb-Bluegiga_Low_Energy_Dongle_1-if00").string());
}

TEST_F(FakeSystem, StableLinkOfAnotherTtyIsNotTaken) {
    addAcm("ttyACM4", "1-3", dongle);
    addStableLink("by-id", "usb-Bluegiga_Low_Energy_Dongle_1-if00", "ttyACM3");
    EXPECT_EQ(find(), (dev() / "ttyACM4").string());
}

} // namespace
