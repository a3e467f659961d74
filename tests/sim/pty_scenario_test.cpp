// Scenarios through the pseudo-terminal: a raw client opens the port's link the way the
// service does (non-blocking, raw, exclusive), writes BGAPI bytes packed by the
// reference reader and reads the answers back, one procedure or fault per test.
#include "bgapi_reference.h"
#include "chatty_peripherals.h"
#include "wait_until.h"

#include "sim/pty_driver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace {

using simtest::Bytes;
using simtest::Parsed;

const std::string heartRate = "C4:7C:8D:6A:12:01";
const std::string echoPad = "E8:1F:44:90:5B:3C";

class RawClient {
public:
    ~RawClient() { close(); }

    bool open(const std::string& path) {
        close();
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0) {
            return false;
        }
        termios mode{};
        tcgetattr(fd_, &mode);
        cfmakeraw(&mode);
        tcsetattr(fd_, TCSANOW, &mode);
        ioctl(fd_, TIOCEXCL);
        buffer_.clear();
        return true;
    }

    void close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

    void send(const Bytes& bytes) {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    }

    void send(const std::string& name, const std::vector<simtest::Field>& fields = {}) {
        send(simtest::command(name, fields));
    }

    // The next whole packet within timeoutMs; empty on timeout or hang-up.
    Bytes nextRaw(int timeoutMs = 3000) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (true) {
            if (buffer_.size() >= 4) {
                const size_t total = 4 + (((buffer_[0] & 7) << 8) | buffer_[1]);
                if (buffer_.size() >= total) {
                    Bytes packet(buffer_.begin(), buffer_.begin() + long(total));
                    buffer_.erase(buffer_.begin(), buffer_.begin() + long(total));
                    return packet;
                }
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !fill(int(left.count()))) {
                return {};
            }
        }
    }

    // The next `count` bytes as they come, whatever they are.
    Bytes readBytes(size_t count) {
        while (buffer_.size() < count && fill(3000)) {
        }
        const size_t taken = std::min(count, buffer_.size());
        Bytes out(buffer_.begin(), buffer_.begin() + long(taken));
        buffer_.erase(buffer_.begin(), buffer_.begin() + long(taken));
        return out;
    }

    Parsed next(int timeoutMs = 3000) { return simtest::parse(nextRaw(timeoutMs)); }

    // The next packet named `name`, skipping others (scan responses, notifications).
    Parsed until(const std::string& name) {
        for (int count = 0; count < 200; ++count) {
            Parsed parsed = next();
            EXPECT_EQ(parsed.error, "");
            if (parsed.row == nullptr || parsed.row->name == name) {
                return parsed;
            }
        }
        return {};
    }

    // Waits up to timeoutMs for the port to hang up.
    bool hungUp(int timeoutMs = 3000) {
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd entry{fd_, POLLIN, 0};
            if (::poll(&entry, 1, 50) > 0 && (entry.revents & (POLLHUP | POLLERR)) != 0) {
                return true;
            }
            uint8_t scratch[256];
            const ssize_t got = ::read(fd_, scratch, sizeof scratch);
            if (got == 0 || (got < 0 && errno == EIO)) {
                return true;
            }
        }
        return false;
    }

private:
    bool fill(int timeoutMs) {
        pollfd entry{fd_, POLLIN, 0};
        if (::poll(&entry, 1, timeoutMs) <= 0 || (entry.revents & POLLIN) == 0) {
            return false;
        }
        uint8_t chunk[512];
        const ssize_t got = ::read(fd_, chunk, sizeof chunk);
        if (got <= 0) {
            return false;
        }
        buffer_.insert(buffer_.end(), chunk, chunk + got);
        return true;
    }

    int fd_ = -1;
    Bytes buffer_;
};

bool waitForPath(const std::string& path, bool present) {
    return harness::waitUntil([&] { return (::access(path.c_str(), F_OK) == 0) == present; },
                              std::chrono::seconds(3));
}

class PtyScenario : public testing::Test {
protected:
    void SetUp() override {
        static std::atomic<int> counter{0};
        link_ = "/tmp/linkrelay-sim-test-" + std::to_string(::getpid()) + "-" +
                std::to_string(counter++) + ".tty";
        sim::SimConfig config;
        config.reenumerateDelayMs = 200;
        driver_ = std::make_unique<sim::PtyDriver>(config, sim::builtinPeripherals(), link_);
        std::string error;
        ASSERT_TRUE(driver_->start(error)) << error;
        ASSERT_TRUE(client_.open(link_));
        // The boot went out before anyone could open the port: the first bytes are the
        // answer to the first command.
        client_.send("system_hello");
        ASSERT_EQ(client_.nextRaw(), (Bytes{0x00, 0x00, 0x00, 0x01}));
    }

    void TearDown() override {
        client_.close();
        driver_.reset();
    }

    long long connect(const std::string& address) {
        client_.send("gap_connect_direct", {simtest::address(address), 0LL, 6LL, 24LL, 100LL, 0LL});
        const Parsed response = client_.until("gap_connect_direct");
        EXPECT_EQ(response["result"], 0);
        const Parsed status = client_.until("connection_status");
        EXPECT_EQ(status["flags"], 0x05);
        return status["connection"];
    }

    std::string link_;
    std::unique_ptr<sim::PtyDriver> driver_;
    RawClient client_;
};

TEST_F(PtyScenario, ResetDropsThePortAndComesBackOnANewOneWithNothingStale) {
    client_.send("system_reset", {0LL});
    EXPECT_TRUE(client_.hungUp());
    ASSERT_TRUE(waitForPath(link_, true));
    ASSERT_TRUE(client_.open(link_));
    EXPECT_TRUE(client_.nextRaw(300).empty()) << "no stale boot";
    client_.send("system_hello");
    EXPECT_EQ(client_.nextRaw(), (Bytes{0x00, 0x00, 0x00, 0x01}));
}

TEST_F(PtyScenario, DiscoveryReportsScanResponsesUntilEnded) {
    client_.send("gap_set_scan_parameters", {2000LL, 2000LL, 1LL});
    EXPECT_EQ(client_.until("gap_set_scan_parameters")["result"], 0);
    client_.send("gap_discover", {2LL});
    EXPECT_EQ(client_.until("gap_discover")["result"], 0);
    const Parsed scan = client_.until("gap_scan_response");
    ASSERT_NE(scan.row, nullptr);
    EXPECT_EQ(scan.data.at("sender").size(), 6u);
    client_.send("gap_end_procedure");
    EXPECT_EQ(client_.until("gap_end_procedure")["result"], 0);
}

TEST_F(PtyScenario, ConnectsAndDiscoversServicesAndCharacteristics) {
    const long long link = connect(heartRate);
    client_.send("attclient_read_by_group_type", {link, 1LL, 0xFFFFLL, Bytes{0x00, 0x28}});
    EXPECT_EQ(client_.until("attclient_read_by_group_type")["result"], 0);
    EXPECT_EQ(client_.next().data.at("uuid"), (Bytes{0x0D, 0x18}));
    EXPECT_EQ(client_.next().data.at("uuid"), (Bytes{0x0F, 0x18}));
    EXPECT_EQ(client_.next()["result"], 0);

    Bytes location = {0xFB, 0x34, 0x9B, 0x5F, 0x80, 0x00, 0x00, 0x80,
                      0x00, 0x10, 0x00, 0x00, 0x38, 0x2A, 0x00, 0x00};
    client_.send("attclient_read_by_type", {link, 1LL, 0xFFFFLL, location});
    EXPECT_EQ(client_.until("attclient_read_by_type")["result"], 0);
    const Parsed found = client_.next();
    EXPECT_EQ(found["type"], 3);
    EXPECT_EQ(found["atthandle"], 6);
    EXPECT_EQ(client_.next()["result"], 0);
}

TEST_F(PtyScenario, ReadsAValue) {
    const long long link = connect(heartRate);
    client_.send("attclient_read_by_handle", {link, 6LL});
    EXPECT_EQ(client_.until("attclient_read_by_handle")["result"], 0);
    const Parsed value = client_.next();
    EXPECT_EQ(value.row->name, "attclient_attribute_value");
    EXPECT_EQ(value.data.at("value"), Bytes{0x01});
}

TEST_F(PtyScenario, WritesEachWayAndHearsTheEcho) {
    const long long link = connect(echoPad);
    client_.send("attclient_write_command", {link, 4LL, Bytes{0x01, 0x00}});
    EXPECT_EQ(client_.until("attclient_write_command")["result"], 0);

    client_.send("attclient_attribute_write", {link, 3LL, Bytes{'a', 'b'}});
    EXPECT_EQ(client_.until("attclient_attribute_write")["result"], 0);
    EXPECT_EQ(client_.next().data.at("value"), (Bytes{'a', 'b'}));
    EXPECT_EQ(client_.next()["result"], 0);

    client_.send("attclient_prepare_write", {link, 3LL, 0LL, Bytes(18, 'x')});
    EXPECT_EQ(client_.until("attclient_prepare_write")["result"], 0);
    EXPECT_EQ(client_.next()["result"], 0);
    client_.send("attclient_prepare_write", {link, 3LL, 18LL, Bytes(4, 'y')});
    EXPECT_EQ(client_.until("attclient_prepare_write")["result"], 0);
    EXPECT_EQ(client_.next()["result"], 0);
    client_.send("attclient_execute_write", {link, 1LL});
    EXPECT_EQ(client_.until("attclient_execute_write")["result"], 0);
    Bytes first(18, 'x');
    first.resize(20, 'y');
    EXPECT_EQ(client_.next().data.at("value"), first);
    EXPECT_EQ(client_.next().data.at("value"), (Bytes{'y', 'y'}));
    const Parsed executed = client_.next();
    EXPECT_EQ(executed.row->name, "attclient_procedure_completed");
    EXPECT_EQ(executed["chrhandle"], 3);

    client_.send("attclient_write_command", {link, 3LL, Bytes{'z'}});
    EXPECT_EQ(client_.until("attclient_write_command")["result"], 0);
    EXPECT_EQ(client_.next().data.at("value"), Bytes{'z'});
}

TEST_F(PtyScenario, NotifiesASubscribedClient) {
    const long long link = connect(heartRate);
    client_.send("attclient_write_command", {link, 10LL, Bytes{0x01, 0x00}});
    EXPECT_EQ(client_.until("attclient_write_command")["result"], 0);
    // Wait until the configuration write has reached the peripheral.
    const auto configured = [this] {
        return driver_->call([](sim::SimDevice& device, sim::SimTime) {
            return device.peripherals()[0]->gatt.find(10)->value[0] == 0x01;
        });
    };
    harness::waitUntil(configured, std::chrono::seconds(3));
    EXPECT_EQ(driver_->control("notify " + heartRate + " 9 2a"), "ok\n");
    const Parsed value = client_.until("attclient_attribute_value");
    EXPECT_EQ(value["type"], 1);
    EXPECT_EQ(value["atthandle"], 9);
    EXPECT_EQ(value.data.at("value"), Bytes{0x2A});
}

TEST_F(PtyScenario, ReportsRssiAndDisconnects) {
    const long long link = connect(heartRate);
    client_.send("connection_get_rssi", {link});
    const Parsed rssi = client_.until("connection_get_rssi");
    EXPECT_LT(rssi["rssi"], 0);
    client_.send("connection_disconnect", {link});
    EXPECT_EQ(client_.until("connection_disconnect")["result"], 0);
    EXPECT_EQ(client_.until("connection_disconnected")["reason"], 0x0216);
}

TEST_F(PtyScenario, UnplugAndReplug) {
    EXPECT_EQ(driver_->control("unplug"), "ok\n");
    EXPECT_TRUE(client_.hungUp());
    EXPECT_TRUE(waitForPath(link_, false));
    EXPECT_EQ(driver_->control("replug"), "ok\n");
    ASSERT_TRUE(waitForPath(link_, true));
    ASSERT_TRUE(client_.open(link_));
    EXPECT_TRUE(client_.nextRaw(300).empty()) << "no stale boot";
    client_.send("system_hello");
    EXPECT_EQ(client_.nextRaw(), (Bytes{0x00, 0x00, 0x00, 0x01}));
}

TEST_F(PtyScenario, SilenceLeavesCommandsUnanswered) {
    EXPECT_EQ(driver_->control("silence on"), "ok\n");
    client_.send("system_hello");
    EXPECT_TRUE(client_.nextRaw(300).empty());
    EXPECT_EQ(driver_->control("silence off"), "ok\n");
    client_.send("system_hello");
    EXPECT_EQ(client_.nextRaw(), (Bytes{0x00, 0x00, 0x00, 0x01}));
    const std::string record = driver_->control("record");
    EXPECT_NE(record.find("system_hello 00 00 00 01"), std::string::npos) << record;
}

TEST_F(PtyScenario, GarbageAndUnknownMessagesReachTheClientAsSent) {
    EXPECT_EQ(driver_->control("send 80 00 0a 00"), "ok\n");
    EXPECT_EQ(client_.nextRaw(), (Bytes{0x80, 0x00, 0x0A, 0x00}));
    EXPECT_EQ(driver_->control("unknown"), "ok\n");
    EXPECT_EQ(client_.nextRaw(), (Bytes{0x80, 0x00, 0x08, 0x00}));
    const std::string reply = driver_->control("garbage 3");
    ASSERT_EQ(reply.size(), 12u) << reply; // "xx xx xx" and "ok"
    Bytes expected;
    for (size_t at = 0; at < 9; at += 3) {
        expected.push_back(static_cast<uint8_t>(std::stoi(reply.substr(at, 2), nullptr, 16)));
    }
    EXPECT_EQ(client_.readBytes(3), expected);
}

TEST_F(PtyScenario, BusyWriteCommandsStalledConnectsAndRemoteDisconnects) {
    const long long link = connect(echoPad);
    EXPECT_EQ(driver_->control("busy 1"), "ok\n");
    client_.send("attclient_write_command", {link, 3LL, Bytes{'a'}});
    EXPECT_EQ(client_.until("attclient_write_command")["result"], 0x0182);
    client_.send("attclient_write_command", {link, 3LL, Bytes{'a'}});
    EXPECT_EQ(client_.until("attclient_write_command")["result"], 0);

    EXPECT_EQ(driver_->control("disconnect " + std::to_string(link) + " 0x0213"), "ok\n");
    EXPECT_EQ(client_.until("connection_disconnected")["reason"], 0x0213);

    EXPECT_EQ(driver_->control("stall-connect 1"), "ok\n");
    client_.send("gap_connect_direct", {simtest::address(echoPad), 0LL, 6LL, 24LL, 100LL, 0LL});
    EXPECT_EQ(client_.until("gap_connect_direct")["result"], 0);
    EXPECT_TRUE(client_.nextRaw(500).empty());
    client_.send("gap_end_procedure");
    EXPECT_EQ(client_.until("gap_end_procedure")["result"], 0);
}

TEST_F(PtyScenario, SlowResponsesStillComeInOrder) {
    EXPECT_EQ(driver_->control("slow 200"), "ok\n");
    client_.send("system_get_connections");
    client_.send("system_hello");
    EXPECT_EQ(client_.next().row->name, "system_get_connections");
    EXPECT_EQ(client_.nextRaw(), (Bytes{0x00, 0x00, 0x00, 0x01}));
}

TEST_F(PtyScenario, StrayAndCutCommandsEndWithACorrectAnswerToTheNextHello) {
    client_.send(Bytes{0x80});
    client_.send("system_hello");
    EXPECT_EQ(client_.nextRaw(), (Bytes{0x00, 0x00, 0x00, 0x01}));

    // A cut gap_set_privacy_flags, left alone longer than the parser waits for the rest.
    client_.send(Bytes{0x00, 0x01, 0x06});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    client_.send("system_hello");
    client_.send("system_hello");
    EXPECT_EQ(client_.nextRaw(), (Bytes{0x00, 0x00, 0x00, 0x01}));
    EXPECT_EQ(client_.nextRaw(), (Bytes{0x00, 0x00, 0x00, 0x01}));
    EXPECT_TRUE(client_.nextRaw(300).empty());
    const std::string record = driver_->control("record");
    EXPECT_EQ(record.find("system_reset"), std::string::npos) << record;
}

TEST(PtyPort, AClientThatStopsReadingGetsWholeFramesOnly) {
    const std::string link = "/tmp/linkrelay-sim-test-" + std::to_string(::getpid()) + "-full.tty";
    sim::PtyDriver driver({}, simtest::chattyPeripherals(24), link);
    std::string error;
    ASSERT_TRUE(driver.start(error)) << error;
    RawClient client;
    ASSERT_TRUE(client.open(link));
    client.send("gap_set_scan_parameters", {2000LL, 2000LL, 0LL});
    client.send("gap_discover", {2LL});
    // About 55 KB a second against some 130 KB of pty and queue.
    const auto full = [&driver] {
        return driver.call(
            [](sim::SimDevice& device, sim::SimTime) { return device.droppedFrames() > 0; });
    };
    ASSERT_TRUE(harness::waitUntil(full, std::chrono::seconds(15))) << driver.control("status");

    // Every frame decodes, one after the other, until the answer to a later hello.
    client.send("gap_end_procedure");
    client.send("system_hello");
    int frames = 0;
    for (; frames < 10000; ++frames) {
        const Bytes packet = client.nextRaw();
        ASSERT_FALSE(packet.empty()) << "no answer to the hello after " << frames << " frames";
        const Parsed parsed = simtest::parse(packet);
        ASSERT_EQ(parsed.error, "") << "frame " << frames;
        if (parsed.row->name == "system_hello") {
            break;
        }
    }
    EXPECT_GT(frames, 1000);
}

} // namespace
