// The in-process port with the device on its own thread: what a serial seam sees.
#include "bgapi_reference.h"

#include "sim/sim_runner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using simtest::Bytes;

// Reads one packet, waiting up to about 5 s in all.
Bytes readPacket(sim::SimPort& port) {
    Bytes packet;
    uint8_t buffer[256];
    for (int round = 0; round < 50; ++round) {
        if (packet.size() >= 4 && packet.size() >= 4u + (((packet[0] & 7) << 8) | packet[1])) {
            return packet;
        }
        const size_t want = packet.size() < 4
                                ? 4 - packet.size()
                                : 4u + (((packet[0] & 7) << 8) | packet[1]) - packet.size();
        const int got = port.read(buffer, want, 100);
        if (got < 0) {
            return {};
        }
        packet.insert(packet.end(), buffer, buffer + got);
    }
    return {};
}

bool waitFor(const std::function<bool()>& condition) {
    for (int round = 0; round < 500 && !condition(); ++round) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return condition();
}

TEST(SimPort, CarriesCommandsAndAnswersAndSurvivesAReset) {
    sim::SimConfig config;
    config.reenumerateDelayMs = 100;
    sim::SimRunner runner(config, sim::builtinPeripherals());
    sim::SimPort& port = runner.port();
    ASSERT_TRUE(waitFor([&] { return port.present(); }));
    ASSERT_TRUE(port.open());
    EXPECT_EQ(simtest::parse(readPacket(port)).row->name, "system_boot");

    const Bytes hello = simtest::command("system_hello", {});
    ASSERT_EQ(port.write(hello.data(), hello.size()), 0);
    EXPECT_EQ(readPacket(port), (Bytes{0x00, 0x00, 0x00, 0x01}));

    const Bytes reset = simtest::command("system_reset", {0LL});
    ASSERT_EQ(port.write(reset.data(), reset.size()), 0);
    uint8_t byte = 0;
    int result = 0;
    for (int round = 0; round < 50 && result == 0; ++round) {
        result = port.read(&byte, 1, 100);
    }
    EXPECT_EQ(result, -1); // the open port broke
    EXPECT_EQ(port.write(hello.data(), hello.size()), -1);
    port.close();
    ASSERT_TRUE(waitFor([&] { return port.open(); }));
    EXPECT_EQ(simtest::parse(readPacket(port)).row->name, "system_boot");
    ASSERT_EQ(port.write(hello.data(), hello.size()), 0);
    EXPECT_EQ(readPacket(port), (Bytes{0x00, 0x00, 0x00, 0x01}));

    const auto record =
        runner.call([](sim::SimDevice& device, sim::SimTime) { return device.record(); });
    ASSERT_EQ(record.size(), 3u);
    EXPECT_EQ(record[1].name, "system_reset");
}

TEST(SimPort, KickCancelsAPendingOrTheNextRead) {
    sim::SimRunner runner({}, {});
    sim::SimPort& port = runner.port();
    ASSERT_TRUE(waitFor([&] { return port.open(); }));
    uint8_t buffer[64];
    while (port.read(buffer, sizeof buffer, 50) > 0) {
    }
    port.kick();
    EXPECT_EQ(port.read(buffer, sizeof buffer, 5000), -2);
    std::thread kicker([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        port.kick();
    });
    EXPECT_EQ(port.read(buffer, sizeof buffer, 60000), -2);
    kicker.join();
    EXPECT_EQ(port.read(buffer, sizeof buffer, 10), 0);
}

TEST(SimPort, UnplugBreaksTheOpenPortUntilReplugAndReopen) {
    sim::SimRunner runner({}, {});
    sim::SimPort& port = runner.port();
    ASSERT_TRUE(waitFor([&] { return port.open(); }));
    EXPECT_EQ(runner.control("unplug"), "ok\n");
    uint8_t buffer[8];
    EXPECT_EQ(port.read(buffer, sizeof buffer, 1000), -1);
    port.close();
    EXPECT_FALSE(port.open());
    EXPECT_EQ(runner.control("replug"), "ok\n");
    EXPECT_TRUE(port.open());
    EXPECT_EQ(runner.control("fly"), "error: unknown command \"fly\"; see help\n");
}

} // namespace
