// The in-process simulated dongle with time stamps. See bench_dongle.h.
#include "bench_dongle.h"

#include "bench_clock.h"

#include <algorithm>
#include <cstdio>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

const char* const benchSensorAddress = "0A:0B:0C:0D:0E:01";

namespace {

constexpr uint32_t fastestAdvertising = 20; // ms, the simulator's floor

sim::Bytes adStructure(uint8_t type, const sim::Bytes& data) {
    sim::Bytes out(data.size() + 2);
    out[0] = static_cast<uint8_t>(data.size() + 1);
    out[1] = type;
    std::copy(data.begin(), data.end(), out.begin() + 2);
    return out;
}

sim::PeripheralSpec sensor() {
    sim::PeripheralSpec peripheral;
    peripheral.name = "Bench Sensor";
    peripheral.address = *sim::parseAddress(benchSensorAddress);
    peripheral.advData = adStructure(0x01, {0x06});
    peripheral.advIntervalMs = fastestAdvertising;
    sim::CharacteristicSpec value{sim::Uuid::from16(benchSensorValue),
                                  sim::property::read | sim::property::notify,
                                  sim::Bytes(8, 0),
                                  0,
                                  {}};
    peripheral.services = {{sim::Uuid::from16(benchSensorService), {value}}};
    return peripheral;
}

sim::PeripheralSpec beacon(int number) {
    sim::PeripheralSpec peripheral;
    peripheral.name = "Bench Beacon";
    peripheral.address = {
        static_cast<uint8_t>(number), static_cast<uint8_t>(number >> 8), 0, 0, 0xBE, 0xF2};
    peripheral.addressType = 1;
    peripheral.advData = adStructure(0xFF, {0xFF, 0xFF, 0x01, 0x02, 0x03, 0x04});
    peripheral.advIntervalMs = fastestAdvertising;
    peripheral.connectable = false;
    return peripheral;
}

bool isScanResponse(std::span<const uint8_t> bytes) {
    return bytes.size() >= 4 && bytes[0] == 0x80 && bytes[2] == 6 && bytes[3] == 0;
}

// The figures are the service's costs, not the radio's: discoveries answer in one
// connection interval and scanning has no windows, as in the runs of bench/RESULTS.md.
sim::SimConfig instantConfig() {
    sim::SimConfig config;
    config.instant = true;
    return config;
}

} // namespace

std::vector<sim::PeripheralSpec> benchPeripherals(int beacons) {
    std::vector<sim::PeripheralSpec> specs{sensor()};
    for (int i = 0; i < beacons; ++i) {
        specs.push_back(beacon(i + 1));
    }
    return specs;
}

BenchDongle::BenchDongle(std::string linkPath, std::vector<sim::PeripheralSpec> peripherals)
    : startTime(std::chrono::steady_clock::now()), pty(std::move(linkPath)),
      wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), tasks([this] { wake(); }),
      device(instantConfig(), std::move(peripherals), *this) {}

BenchDongle::~BenchDongle() {
    stopping = true;
    wake();
    if (thread.joinable()) {
        thread.join();
    }
    ::close(wakeFd);
}

bool BenchDongle::start(std::string& error) {
    if (wakeFd < 0) {
        error = "eventfd failed";
        return false;
    }
    device.start(elapsed());
    if (!pty.attached()) {
        error = "the pseudo-terminal could not be made";
        return false;
    }
    thread = std::thread([this] { run(); });
    return true;
}

uint16_t BenchDongle::sensorValueHandle() {
    return call([](sim::SimDevice& dongle, sim::SimTime) -> uint16_t {
        for (const auto& peripheral : dongle.peripherals()) {
            if (peripheral->profile.name != "Bench Sensor") {
                continue;
            }
            for (const sim::Attribute& attribute : peripheral->gatt.attributes()) {
                if (attribute.role == sim::AttributeRole::Value) {
                    return attribute.handle;
                }
            }
        }
        return 0;
    });
}

bool BenchDongle::waitSubscribed(uint16_t valueHandle, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const bool on = call([valueHandle](sim::SimDevice& dongle, sim::SimTime) {
            for (const auto& peripheral : dongle.peripherals()) {
                const sim::Attribute* configuration = peripheral->gatt.configurationOf(valueHandle);
                if (peripheral->profile.name == "Bench Sensor" && configuration != nullptr &&
                    !configuration->value.empty() && (configuration->value[0] & 0x01) != 0) {
                    return true;
                }
            }
            return false;
        });
        if (on) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

bool BenchDongle::notify(uint16_t valueHandle, uint64_t number, bool stampTime) {
    return call([valueHandle, number, stampTime](sim::SimDevice& dongle, sim::SimTime now) {
        const uint64_t value = stampTime ? static_cast<uint64_t>(nowNs()) : number;
        sim::Bytes bytes(8);
        for (size_t i = 0; i < 8; ++i) {
            bytes[i] = static_cast<uint8_t>(value >> (8 * i));
        }
        return dongle.updateValue(*sim::parseAddress(benchSensorAddress), valueHandle, bytes, now);
    });
}

void BenchDongle::notifyRange(uint16_t valueHandle, uint64_t first, uint64_t end) {
    call([valueHandle, first, end](sim::SimDevice& dongle, sim::SimTime now) {
        const sim::Address address = *sim::parseAddress(benchSensorAddress);
        sim::Bytes bytes(8);
        for (uint64_t number = first; number < end; ++number) {
            for (size_t i = 0; i < 8; ++i) {
                bytes[i] = static_cast<uint8_t>(number >> (8 * i));
            }
            dongle.updateValue(address, valueHandle, bytes, now);
        }
    });
}

std::vector<int64_t> BenchDongle::takeReadArrivals() {
    const std::lock_guard guard(lock);
    std::vector<int64_t> out;
    out.swap(arrivals);
    return out;
}

bool BenchDongle::toHost(std::span<const uint8_t> bytes) {
    if (isScanResponse(bytes)) {
        scanResponses.fetch_add(1);
    }
    dropped.fetch_add(bytes.size() - pty.write(bytes));
    return true;
}

void BenchDongle::setPresent(bool present) {
    if (!present) {
        pty.detach();
        return;
    }
    std::string error;
    if (!pty.attach(error)) {
        std::fprintf(stderr, "bench dongle: %s\n", error.c_str());
    }
}

void BenchDongle::wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
}

sim::SimTime BenchDongle::elapsed() const {
    return std::chrono::duration_cast<sim::SimTime>(std::chrono::steady_clock::now() - startTime);
}

int BenchDongle::pollTimeout() const {
    const auto due = device.nextDue();
    if (!due) {
        return -1;
    }
    const auto left = *due - elapsed();
    return left.count() <= 0 ? 0 : static_cast<int>(left.count());
}

void BenchDongle::receive(const uint8_t* bytes, size_t count, int64_t arrived, sim::SimTime now) {
    device.clearRecord();
    device.receive(std::span(bytes, count), now);
    for (const sim::RecordedCommand& command : device.record()) {
        if (command.name == "attclient_read_by_handle") {
            const std::lock_guard guard(lock);
            arrivals.push_back(arrived);
        }
    }
}

void BenchDongle::run() {
    sim::Bytes buffer(4096);
    while (!stopping) {
        pollfd fds[2] = {{wakeFd, POLLIN, 0}, {pty.masterFd(), POLLIN, 0}};
        const nfds_t count = pty.attached() ? 2 : 1;
        ::poll(fds, count, pollTimeout());
        if (stopping) {
            return;
        }
        uint64_t wakes = 0;
        [[maybe_unused]] const ssize_t drained = ::read(wakeFd, &wakes, sizeof wakes);
        const sim::SimTime now = elapsed();
        if (count == 2 && (fds[1].revents & POLLIN) != 0) {
            const long got = pty.read(buffer.data(), buffer.size());
            const int64_t arrived = nowNs();
            if (got > 0) {
                receive(buffer.data(), static_cast<size_t>(got), arrived, now);
            }
        }
        for (auto& task : tasks.take()) {
            task(device, now);
        }
        device.advance(now);
    }
}
