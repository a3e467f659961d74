// The in-process port with the device on its own thread: what a serial seam sees.
#include "bgapi_reference.h"
#include "chatty_peripherals.h"
#include "wait_until.h"

#include "sim/sim_control.h"
#include "sim/sim_runner.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;
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

TEST(SimPort, CarriesCommandsAndAnswersAndSurvivesAReset) {
    sim::SimConfig config;
    config.reenumerateDelayMs = 100;
    sim::SimRunner runner(config, sim::builtinPeripherals());
    sim::SimPort& port = runner.port();
    ASSERT_TRUE(harness::waitUntil([&] { return port.present(); }, 5s));
    ASSERT_TRUE(port.open());

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
    ASSERT_TRUE(harness::waitUntil([&] { return port.open(); }, 5s));
    EXPECT_EQ(port.read(&byte, 1, 200), 0) << "the boot went out before the port was open";
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
    ASSERT_TRUE(harness::waitUntil([&] { return port.open(); }, 5s));
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
    ASSERT_TRUE(harness::waitUntil([&] { return port.open(); }, 5s));
    EXPECT_EQ(runner.control("unplug"), "ok\n");
    uint8_t buffer[8];
    EXPECT_EQ(port.read(buffer, sizeof buffer, 1000), -1);
    port.close();
    EXPECT_FALSE(port.open());
    EXPECT_EQ(runner.control("replug"), "ok\n");
    EXPECT_TRUE(port.open());
    EXPECT_EQ(runner.control("fly"), "error: unknown command \"fly\"; see help\n");
}

TEST(SimPort, AHostThatStopsReadingFindsWholeFramesOnlyAndCountedDrops) {
    sim::SimPort port([] {});
    sim::SimDevice device({}, simtest::chattyPeripherals(8), port);
    sim::SimTime now{0};
    device.start(now);
    ASSERT_TRUE(port.open());
    const auto send = [&](const Bytes& command) {
        ASSERT_EQ(port.write(command.data(), command.size()), 0);
        device.receive(port.takeHostBytes(), now);
    };
    send(simtest::command("gap_set_scan_parameters", {2000LL, 2000LL, 0LL}));
    send(simtest::command("gap_discover", {2LL}));
    // 30 s without reading: far more than the port holds.
    for (int second = 0; second < 30; ++second) {
        now += std::chrono::seconds(1);
        device.advance(now);
    }
    send(simtest::command("gap_end_procedure", {}));
    EXPECT_GT(device.droppedFrames(), 0u);
    EXPECT_NE(sim::runControlCommand(device, "status", now)
                  .find("dropped frames: " + std::to_string(device.droppedFrames())),
              std::string::npos);

    // The stream decodes frame by frame to its end, which is the host's last answers.
    Bytes stream;
    uint8_t buffer[4096];
    for (int got = 0; (got = port.read(buffer, sizeof buffer, 0)) > 0;) {
        stream.insert(stream.end(), buffer, buffer + got);
    }
    ASSERT_GT(stream.size(), 60000u);
    size_t at = 0;
    std::vector<std::string> names;
    while (at < stream.size()) {
        ASSERT_GE(stream.size() - at, 4u) << "a cut frame at " << at;
        const size_t total = 4 + (((stream[at] & 7) << 8) | stream[at + 1]);
        ASSERT_LE(at + total, stream.size()) << "a cut frame at " << at;
        const simtest::Parsed parsed =
            simtest::parse(Bytes(stream.begin() + static_cast<long>(at),
                                 stream.begin() + static_cast<long>(at + total)));
        ASSERT_EQ(parsed.error, "") << "at " << at;
        names.push_back(parsed.row->name);
        at += total;
    }
    EXPECT_EQ(names[0], "gap_set_scan_parameters");
    EXPECT_EQ(names[1], "gap_discover");
    EXPECT_EQ(names[2], "gap_scan_response");
    // The answer to a command sent while the port was full was dropped with the events;
    // once the host has read, the next command's answer arrives as usual.
    send(simtest::command("system_hello", {}));
    EXPECT_EQ(readPacket(port), (Bytes{0x00, 0x00, 0x00, 0x01}));
}

} // namespace
