// The simulated dongle's port source (--simulate): its port, and a reset's
// re-enumeration seen as open failing and then succeeding.
#include "conduit/serial/simulated_source.h"
#include "wait_until.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

const Bytes systemHello = {0x00, 0x00, 0x00, 0x01};
const Bytes systemHelloResponse = {0x00, 0x00, 0x00, 0x01};
const Bytes systemReset = {0x00, 0x01, 0x00, 0x00, 0x00};

// Polls `done` for up to 10 s.
bool eventually(const std::function<bool()>& done) {
    return harness::waitUntil(done, std::chrono::seconds(10));
}

// Reads `count` bytes in rounds of 100 ms, for up to 50 rounds; fewer on a failure.
Bytes readBytes(SerialPort& port, size_t count) {
    Bytes got;
    for (int round = 0; round < 50 && got.size() < count; ++round) {
        std::array<uint8_t, 256> buffer{};
        const int n = port.readSome(static_cast<uint32_t>(count - got.size()), buffer.data(), 100);
        if (n < 0) {
            break;
        }
        got.insert(got.end(), buffer.begin(), buffer.begin() + n);
    }
    return got;
}

std::unique_ptr<SerialPortSource> simulatedSource() {
    return std::make_unique<SimulatedPortSource>();
}

TEST(SimulatedSource, FindsOpensAndTalksBgapi) {
    auto source = simulatedSource();
    ASSERT_TRUE(eventually([&] { return !source->find().empty(); }));
    const std::string name = source->find();
    EXPECT_EQ(source->open("COM7"), nullptr);
    auto port = source->open(name);
    ASSERT_NE(port, nullptr);
    // The boot went out before anyone had the port open: nothing waits in it.
    std::array<uint8_t, 64> rest{};
    EXPECT_EQ(port->readSome(rest.size(), rest.data(), 200), 0);
    ASSERT_EQ(port->write(static_cast<uint32_t>(systemHello.size()), systemHello.data()), 0);
    EXPECT_EQ(readBytes(*port, 4), systemHelloResponse);
}

TEST(SimulatedSource, OnePortAtATimeAndCancelWorks) {
    auto source = simulatedSource();
    ASSERT_TRUE(eventually([&] { return !source->find().empty(); }));
    auto port = source->open(source->find());
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(source->open(source->find()), nullptr);
    port->cancelRead();
    std::array<uint8_t, 4> buffer{};
    EXPECT_EQ(port->readSome(4, buffer.data(), 60000), serialReadCancelled);
    EXPECT_EQ(port->close(), 0);
    EXPECT_NE(port->close(), 0);
    EXPECT_EQ(port->readSome(4, buffer.data(), 0), serialReadError);
    auto again = source->open(source->find());
    EXPECT_NE(again, nullptr);
    port.reset(); // destroying the closed port leaves the new one alone
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->write(static_cast<uint32_t>(systemHello.size()), systemHello.data()), 0);
}

TEST(SimulatedSource, ResetReenumeratesTheDongle) {
    auto source = simulatedSource();
    ASSERT_TRUE(eventually([&] { return !source->find().empty(); }));
    const std::string name = source->find();
    auto port = source->open(name);
    ASSERT_NE(port, nullptr);
    ASSERT_EQ(port->write(static_cast<uint32_t>(systemReset.size()), systemReset.data()), 0);

    // The dongle leaves the bus: the open port breaks, and it cannot be found or opened.
    std::array<uint8_t, 64> buffer{};
    ASSERT_TRUE(eventually([&] { return port->readSome(64, buffer.data(), 10) < 0; }));
    EXPECT_EQ(port->readSome(64, buffer.data(), 0), serialReadError);
    EXPECT_EQ(port->close(), 0);
    EXPECT_EQ(source->find(), "");
    EXPECT_EQ(source->open(name), nullptr);

    // It comes back; its boot reached nobody, and it answers.
    std::unique_ptr<SerialPort> reopened;
    ASSERT_TRUE(eventually([&] {
        reopened = source->open(name);
        return reopened != nullptr;
    }));
    EXPECT_EQ(source->find(), name);
    EXPECT_EQ(reopened->readSome(64, buffer.data(), 200), 0);
    ASSERT_EQ(reopened->write(static_cast<uint32_t>(systemHello.size()), systemHello.data()), 0);
    EXPECT_EQ(readBytes(*reopened, 4), systemHelloResponse);
}

} // namespace
