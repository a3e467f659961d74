// Address types end to end: a device with a random address is connected with the type
// it advertised with, a device never scanned is connected as public, and the simulated
// dongle's help says what a reset into firmware update does.
#include "conduit_e2e_fixture.h"

#include <sys/wait.h>

using linkrelay::CharacteristicFoundEvent;
using linkrelay::Event;
using linkrelay::ScanResultEvent;

namespace e2e {
namespace {

// The address type byte of each gap_connect_direct the dongle received (after the
// 4-byte header and the 6-byte address).
std::vector<int> connectAddressTypes(const harness::SimDongleProcess& dongle) {
    std::vector<int> types;
    for (const std::string& command : dongle.recorded("gap_connect_direct")) {
        const std::vector<uint8_t> bytes = hexBytes(command);
        types.push_back(bytes.size() > 10 ? bytes[10] : -1);
    }
    return types;
}

TEST_F(ConduitE2e, ARandomAddressDeviceSeenInAScanIsConnectedFoundAndRead) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    auto client = openClient();
    const BleAddress device = address(thermo);
    client->startScan();
    client->waitFor(
        [&](const Event& event) {
            const auto* result = std::get_if<ScanResultEvent>(&event);
            return result != nullptr && result->address == device;
        },
        10s, "a scan result of the random-address device");
    client->stopScan();

    client->connect(device);
    EXPECT_EQ(client->waitConnected(device, 10s).address, device);
    EXPECT_EQ(connectAddressTypes(*dongle), std::vector<int>{1});
    client->findAttributes(device, {uuid("2a19")});
    const std::vector<CharacteristicFoundEvent> found = client->waitCharacteristics(device, 10s);
    ASSERT_EQ(found.size(), 1U);
    client->read(device, found[0].index);
    EXPECT_EQ(client->waitValue(device, found[0].index, 10s).value, std::vector<uint8_t>{64});
    client->disconnect(device);
    client->waitDisconnected(device, 10s);
}

TEST_F(ConduitE2e, ADeviceNeverScannedIsConnectedAsPublic) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    auto client = openClient();
    const BleAddress echo = address(echoPad);
    client->connect(echo);
    client->waitConnected(echo, 10s);
    EXPECT_EQ(connectAddressTypes(*dongle), std::vector<int>{0});

    // A random-address device never scanned is asked for as public too: like a real
    // radio, it does not answer, and the connect is abandoned after its time limit.
    client->connect(address(thermo));
    ASSERT_TRUE(waitLines("BG conduit: aborted gap op connect", 1, 10s));
    EXPECT_EQ(connectAddressTypes(*dongle), (std::vector<int>{0, 0}));
}

TEST(SimDongleHelp, SaysAResetIntoFirmwareUpdateIsNotSimulated) {
    harness::TempDir folder;
    harness::ChildProcess help(harness::ChildOptions{
        .program = LINKRELAY_SIM_BINARY,
        .arguments = {"--help"},
        .setEnv = {},
        .unsetEnv = {},
        .stdoutPath = folder.file("stdout"),
        .stderrPath = folder.file("stderr"),
    });
    ASSERT_TRUE(help.started());
    const std::optional<int> status = help.waitExit(10s);
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    const std::string text = harness::readFile(folder.file("stdout"));
    const size_t reset = text.find("system_reset(1)");
    ASSERT_NE(reset, std::string::npos) << text;
    EXPECT_NE(text.find("not simulated", reset), std::string::npos) << text;
    EXPECT_NE(text.find("--instant"), std::string::npos) << text;
}

} // namespace
} // namespace e2e
