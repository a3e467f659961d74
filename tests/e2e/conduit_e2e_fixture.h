// The real linkrelay program on a simulated dongle behind a pseudo-terminal
// (linkrelay-sim), driven by real TCP clients on port 9089: the fixture of the conduit's
// end-to-end tests.
//
// Threads: each fixture belongs to the thread of its test.
#pragma once

#include "linkrelay/address_text.h"
#include "linkrelay/client.h"
#include "process_harness.h"
#include "sim_dongle_process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace e2e {

using namespace std::chrono_literals;

// The built-in peripherals of the simulated dongle.
inline const std::string pulseHr = "C4:7C:8D:6A:12:01"; // heart rate, notifies each second
inline const std::string echoPad = "E8:1F:44:90:5B:3C"; // echoes writes as notifications
inline const std::string thermo = "D0:2B:20:11:30:07";  // random address; battery level 2a19
inline const std::string echoService = "a5b1c000-1e7d-4b3a-9f2c-5d0e8b6a7c10";
inline const std::string echoChar = "a5b1c001-1e7d-4b3a-9f2c-5d0e8b6a7c10";   // read, write, notify
inline const std::string serialChar = "a5b1c002-1e7d-4b3a-9f2c-5d0e8b6a7c10"; // read, indicate

BleAddress address(const std::string& text);
UuidRecord uuid(const std::string& text);
// Hex bytes as linkrelay-sim's record shows them ("00 05 06 07").
std::vector<uint8_t> hexBytes(const std::string& text);

class ConduitE2e : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // linkrelay-sim with these extra options.
    void startDongle(const std::vector<std::string>& extra = {});
    // linkrelay with --port on the dongle's link (which need not exist yet); with a
    // `descriptorLimit` above 0, under that limit (ulimit -n, soft and hard).
    void startService(int descriptorLimit = 0);
    // Both, and waits until the service is ready.
    void startReady(const std::vector<std::string>& dongleOptions = {});

    // A client with its session open and its first GobStatus taken.
    std::unique_ptr<linkrelay::Client> openClient(linkrelay::StatusEvent* status = nullptr);
    // Connects `client` to the echo pad and finds its characteristic (echoChar, index 0).
    void connectToEchoChar(linkrelay::Client& client);

    std::string logText() const;
    // The "BG conduit: " lines of the log, each from that prefix on.
    std::vector<std::string> conduitLines() const;
    // How many lines of the log begin (after their time prefix) with `line`.
    int countLines(const std::string& line) const;
    bool waitLines(const std::string& line, int count, std::chrono::milliseconds timeout) const;

    // SIGTERM; expects exit status 0 within `bound`.
    void stopService(std::chrono::milliseconds bound);

    harness::TempDir folder;
    std::unique_ptr<harness::SimDongleProcess> dongle;
    std::unique_ptr<harness::ChildProcess> service;
};

// The events of kind T that `client` received within `timeout` (waits for the first).
template <typename T>
T waitKind(linkrelay::Client& client, std::chrono::milliseconds timeout, const std::string& what) {
    return std::get<T>(client.waitFor(linkrelay::matchKind<T>(), timeout, what));
}

} // namespace e2e
