// The SimDevice test fixture: a device with the built-in peripherals on simulated time,
// behind a link that checks every packet it sends against its row of messages.tsv.
#pragma once

#include "bgapi_reference.h"

#include "sim/peripheral.h"
#include "sim/sim_device.h"

#include <gtest/gtest.h>

#include <memory>

namespace devicetest {

using simtest::Bytes;
using simtest::Parsed;
using std::chrono::milliseconds;

inline const std::string heartRate = "C4:7C:8D:6A:12:01";
inline const std::string thermo = "D0:2B:20:11:30:07";
inline const std::string echoPad = "E8:1F:44:90:5B:3C";
inline const std::string beacon = "F1:00:00:BE:AC:04";

// Heart-rate monitor handles: 3 measurement (notify) + 4 its configuration, 6 body
// sensor location (read), 9 battery level (read, notify) + 10. Echo pad: 3 echo value
// (read, write, write without response, notify) + 4, 6 serial (read, indicate) + 7.
inline constexpr long long hrMeasurement = 3;
inline constexpr long long hrLocation = 6;
inline constexpr long long echoValue = 3;
inline constexpr long long echoSerial = 6;

inline Bytes uuid128(uint16_t shortUuid) {
    // 0000xxxx-0000-1000-8000-00805F9B34FB, least significant byte first.
    return {0xFB,
            0x34,
            0x9B,
            0x5F,
            0x80,
            0x00,
            0x00,
            0x80,
            0x00,
            0x10,
            0x00,
            0x00,
            static_cast<uint8_t>(shortUuid & 0xFF),
            static_cast<uint8_t>(shortUuid >> 8),
            0x00,
            0x00};
}

// Checks every packet against its row as it arrives.
class CheckedLink : public sim::SimLink {
public:
    bool toHost(std::span<const uint8_t> bytes) override {
        Parsed parsed = simtest::parse(Bytes(bytes.begin(), bytes.end()));
        EXPECT_EQ(parsed.error, "") << (parsed.row ? parsed.row->name : "?");
        received.push_back(parsed);
        return true;
    }
    void setPresent(bool now) override {
        present = now;
        ++changes;
        if (opensOnAppear) {
            open = now;
        }
    }
    bool hostOpen() const override { return open; }

    std::vector<Parsed> received;
    bool present = false;
    bool open = true; // a host has the port open as the dongle comes back
    // A host that loses the port as the dongle goes and opens it the moment it appears.
    bool opensOnAppear = false;
    int changes = 0;
};

// The fast answers, for tests about what the device answers rather than when.
inline sim::SimConfig instant() {
    sim::SimConfig config;
    config.instant = true;
    return config;
}

class Device : public testing::Test {
protected:
    void boot(sim::SimConfig config = instant()) {
        device = std::make_unique<sim::SimDevice>(config, sim::builtinPeripherals(), link);
        device->start(now);
        ASSERT_EQ(names(), std::vector<std::string>{"system_boot"});
    }

    void send(const std::string& name, const std::vector<simtest::Field>& fields = {}) {
        device->receive(simtest::command(name, fields), now);
    }

    void run(int ms) {
        now += milliseconds(ms);
        device->advance(now);
    }

    std::vector<Parsed> take() {
        std::vector<Parsed> out;
        out.swap(link.received);
        return out;
    }

    std::vector<std::string> names() {
        std::vector<std::string> out;
        for (const auto& parsed : take()) {
            out.push_back(parsed.row != nullptr ? parsed.row->name : "?");
        }
        return out;
    }

    // The single packet received since the last take, checked for its name.
    Parsed only(const std::string& name) {
        auto packets = take();
        EXPECT_EQ(packets.size(), 1u);
        if (packets.empty()) {
            return {};
        }
        EXPECT_EQ(packets[0].row->name, name);
        return packets[0];
    }

    long long connect(const std::string& address, long long addressType = 0) {
        send("gap_connect_direct", {simtest::address(address), addressType, 6LL, 24LL, 100LL, 0LL});
        const Parsed response = only("gap_connect_direct");
        EXPECT_EQ(response["result"], 0);
        run(500);
        const Parsed status = only("connection_status");
        EXPECT_EQ(status["flags"], 0x05);
        EXPECT_EQ(status.data.at("address"), simtest::address(address));
        EXPECT_EQ(status["connection"], response["connection_handle"]);
        return status["connection"];
    }

    void subscribe(long long connection, long long valueHandle, long long bits) {
        send("attclient_write_command", {connection, valueHandle + 1, Bytes{uint8_t(bits), 0}});
        EXPECT_EQ(only("attclient_write_command")["result"], 0);
        run(50);
        take();
    }

    CheckedLink link;
    std::unique_ptr<sim::SimDevice> device;
    sim::SimTime now{0};
};

} // namespace devicetest
