// BenchDongle: the simulated dongle behind a pseudo-terminal, run in this process on a
// thread of its own (like linkrelay-sim's driver), with the two instants the benchmarks
// need taken on that thread: when it writes a notification (the work passed to call()
// stamps the value it sends) and when a read_by_handle command from the host has arrived
// (the read that completed it returned).
//
// Its peripherals (benchPeripherals): one sensor with a readable, notifying 8-byte value
// that advertises every 20 ms, and beacons that only advertise, each every 20 ms.
//
// Threads: start() on the owner's thread; then only the dongle's thread touches the
// device and the pty. call() runs work there and waits for it. `lock` guards `arrivals`;
// the counters are atomic.
#pragma once

#include "sim/device_tasks.h"
#include "sim/sim_device.h"
#include "sim/sim_pty.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// The sensor: its address as clients write it, and its characteristic's 16-bit UUID.
extern const char* const benchSensorAddress;
constexpr uint16_t benchSensorService = 0xFFF0;
constexpr uint16_t benchSensorValue = 0xFFF1;

std::vector<sim::PeripheralSpec> benchPeripherals(int beacons);

class BenchDongle : private sim::SimLink {
public:
    BenchDongle(std::string linkPath, std::vector<sim::PeripheralSpec> peripherals);
    ~BenchDongle() override;
    BenchDongle(const BenchDongle&) = delete;
    BenchDongle& operator=(const BenchDongle&) = delete;

    // Plugs the dongle in and starts its thread; false with `error` set on failure.
    bool start(std::string& error);

    // Runs work(device, now) on the dongle's thread and returns its result.
    template <typename Work> auto call(Work work) { return tasks.call(std::move(work)); }

    // The attribute handle of the sensor's value (found on the device's thread).
    uint16_t sensorValueHandle();
    // Waits until the sensor's notifications are switched on: the subscription write
    // reaches the peripheral one connection interval after the dongle took it.
    bool waitSubscribed(uint16_t valueHandle, std::chrono::milliseconds timeout);
    // Sends one notification of the sensor's value whose 8 bytes are `number`, or the
    // time of sending (nowNs) when `stampTime` is set. False when no link is subscribed.
    bool notify(uint16_t valueHandle, uint64_t number, bool stampTime);
    // Sends notifications numbered [first, end) back to back.
    void notifyRange(uint16_t valueHandle, uint64_t first, uint64_t end);

    // The arrival times (nowNs) of the read_by_handle commands since the last call.
    std::vector<int64_t> takeReadArrivals();
    uint64_t droppedBytes() const { return dropped.load(); }
    uint64_t scanResponsesSent() const { return scanResponses.load(); }

private:
    bool toHost(std::span<const uint8_t> bytes) override;
    void setPresent(bool present) override;
    bool hostOpen() const override { return false; }
    void wake();
    void run();
    void receive(const uint8_t* bytes, size_t count, int64_t arrived, sim::SimTime now);
    int pollTimeout() const;
    sim::SimTime elapsed() const;

    const std::chrono::steady_clock::time_point startTime;
    sim::SimPty pty;
    int wakeFd = -1;
    std::atomic<bool> stopping{false};
    std::atomic<uint64_t> dropped{0};
    std::atomic<uint64_t> scanResponses{0};
    std::mutex lock;               // guards arrivals
    std::vector<int64_t> arrivals; // read_by_handle arrival times
    sim::DeviceTasks tasks;
    sim::SimDevice device;
    std::thread thread; // started by start()
};
