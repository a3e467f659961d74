// The dongle's friendly name among the Ports-class devices, as the SetupDi search
// scans each one.
#include "conduit/serial/friendly_name.h"

#include <gtest/gtest.h>

namespace {

TEST(DongleFriendlyName, NamesWithTheDongleTextAndANumberGiveThePort) {
    EXPECT_EQ(dongleComPort("Bluegiga Bluetooth Low Energy (COM7)"), 7);
    EXPECT_EQ(dongleComPort("Bluegiga Bluetooth Low Energy (COM255)"), 255);
    // Only the text up to the number has to match.
    EXPECT_EQ(dongleComPort("Bluegiga Bluetooth Low Energy (COM12) #2"), 12);
    EXPECT_EQ(dongleComPort("Bluegiga Bluetooth Low Energy (COM3"), 3);
    // The blank matches any run of white space, also none; blanks before the number
    // are skipped.
    EXPECT_EQ(dongleComPort("Bluegiga Bluetooth Low Energy(COM4)"), 4);
    EXPECT_EQ(dongleComPort("Bluegiga Bluetooth Low Energy \t (COM5)"), 5);
    EXPECT_EQ(dongleComPort("Bluegiga Bluetooth Low Energy (COM  6)"), 6);
}

TEST(DongleFriendlyName, OtherNamesAreNotTheDongle) {
    EXPECT_EQ(dongleComPort("Bluegiga Bluetooth Low Energy"), -1);
    EXPECT_EQ(dongleComPort("Bluegiga Bluetooth Low Energy (COMx)"), -1);
    EXPECT_EQ(dongleComPort("Bluegiga Bluetooth Low Energy (LPT1)"), -1);
    EXPECT_EQ(dongleComPort("bluegiga bluetooth low energy (COM7)"), -1);
    EXPECT_EQ(dongleComPort("Bluegiga Bluetooth Low Energy (com7)"), -1);
    EXPECT_EQ(dongleComPort("USB Serial Port (COM3)"), -1);
    EXPECT_EQ(dongleComPort("Communications Port (COM1)"), -1);
    EXPECT_EQ(dongleComPort(""), -1);
    // No port has a negative number.
    EXPECT_EQ(dongleComPort("Bluegiga Bluetooth Low Energy (COM-2)"), -1);
}

} // namespace
