// The whole system on a simulated dongle: start-up, scanning, connections, discovery,
// reads, writes, subscriptions, RSSI, disconnections and clients leaving, each checked
// at both ends (the events a TCP client gets and the commands the dongle received).
#include "conduit_e2e_fixture.h"

#include "linkrelay/uuid_text.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

using linkrelay::AttributeValueEvent;
using linkrelay::CharacteristicFoundEvent;
using linkrelay::DisconnectedEvent;
using linkrelay::Event;
using linkrelay::EventMatcher;
using linkrelay::eventName;
using linkrelay::formatUuid;
using linkrelay::RssiEvent;
using linkrelay::sameUuid;
using linkrelay::ScanResultEvent;
using linkrelay::ServiceFoundEvent;
using linkrelay::StatusEvent;

namespace e2e {
namespace {

// The link handle that linkrelay-sim's status shows for `peripheral`, or -1.
int linkHandle(const harness::SimDongleProcess& dongle, const std::string& peripheral) {
    std::istringstream status(dongle.control("status"));
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("link ") && line.find(peripheral) != std::string::npos) {
            return std::stoi(line.substr(5));
        }
    }
    return -1;
}

bool discovering(const harness::SimDongleProcess& dongle) {
    return dongle.control("status").find("discovering: yes") != std::string::npos;
}

// The data bytes of an attclient command: what follows connection, handle (and offset
// for prepare_write) and the array's length byte.
std::vector<uint8_t> commandData(const std::string& recordedBytes, size_t fixed) {
    const std::vector<uint8_t> bytes = hexBytes(recordedBytes);
    const size_t start = 4 + fixed + 1;
    return bytes.size() >= start ? std::vector<uint8_t>(bytes.begin() + start, bytes.end())
                                 : std::vector<uint8_t>{};
}

EventMatcher scanResultFrom(const BleAddress& from) {
    return [from](const Event& event) {
        const auto* result = std::get_if<ScanResultEvent>(&event);
        return result != nullptr && result->address == from;
    };
}

TEST_F(ConduitE2e, StartUpResetsReopensSetsScanParametersAndReportsReady) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    const std::vector<std::string> expected = {
        "BG conduit: initing",
        "BG conduit: finding serial port",
        "BG conduit: opening serial port",
        "BG conduit: resetting",
        "BG conduit: closing serial port",
        "BG conduit: closed serial port successfully",
        "BG conduit: opening serial port",
        "BG conduit: setting scan parameters",
        "BG conduit: ready",
    };
    const std::vector<std::string> lines = conduitLines();
    auto at = lines.begin();
    for (const std::string& line : expected) {
        at = std::find(at, lines.end(), line);
        ASSERT_NE(at, lines.end()) << "missing or out of order: " << line;
    }
    // The dongle got a reset into its normal program, then the scan parameters
    // (interval and window 2000, active).
    const std::vector<std::string> record = dongle->record();
    ASSERT_GE(record.size(), 2U);
    EXPECT_NE(record[0].find("system_reset 00 01 00 00 00"), std::string::npos) << record[0];
    EXPECT_EQ(dongle->recorded("gap_set_scan_parameters"),
              std::vector<std::string>{"00 05 06 07 d0 07 d0 07 01"});

    StatusEvent status;
    auto client = openClient(&status);
    EXPECT_EQ(status.conduitType, 1);
    EXPECT_EQ(status.conduitState, 0);
    ASSERT_NO_FATAL_FAILURE(stopService(5s));
}

TEST_F(ConduitE2e, ScanningIsSharedBetweenClientsAndStopsWithTheLastScanner) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    auto first = openClient();
    auto second = openClient();
    first->startScan();
    first->waitFor(scanResultFrom(address(pulseHr)), 10s, "a scan result");
    EXPECT_EQ(dongle->recorded("gap_discover").front(), "00 01 06 02 02");
    second->startScan();
    second->waitFor(scanResultFrom(address(pulseHr)), 10s, "a scan result");
    EXPECT_TRUE(discovering(*dongle));

    // The first leaves scanning; the second still hears every device. A disconnect the
    // first sends after it is dispatched after the stop: once the conduit has answered
    // it, the stop has been handled.
    first->stopScan();
    first->disconnect(BleAddress{{0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F}});
    ASSERT_TRUE(waitLines("BG conduit: Zuna was not connected to this QAP", 1, 5s));
    while (second->nextEvent(0ms)) {
    }
    second->waitFor(scanResultFrom(address(pulseHr)), 10s, "a result after the first stopped");
    second->waitFor(scanResultFrom(address(echoPad)), 10s, "a result after the first stopped");
    EXPECT_TRUE(discovering(*dongle));
    EXPECT_TRUE(dongle->recorded("gap_end_procedure").empty()) << "the scan never stopped";

    second->stopScan();
    EXPECT_TRUE(harness::waitUntil([&] { return !discovering(*dongle); }, 5s));
    EXPECT_FALSE(dongle->recorded("gap_end_procedure").empty());
}

TEST_F(ConduitE2e, ConnectDiscoverReadWriteSubscribeRssiAndDisconnect) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    auto client = openClient();
    const BleAddress echo = address(echoPad);

    client->connect(echo);
    EXPECT_EQ(client->waitConnected(echo, 10s).address, echo);
    EXPECT_NE(linkHandle(*dongle, echoPad), -1);

    client->findServices(echo);
    const std::vector<ServiceFoundEvent> services = client->waitServices(echo, 10s);
    ASSERT_EQ(services.size(), 1U);
    EXPECT_EQ(services[0].serviceIndex, 0);
    EXPECT_TRUE(sameUuid(services[0].uuid, uuid(echoService)));

    // Looked up from the last UUID asked for; indexes count up in the order found.
    client->findAttributes(echo, {uuid(echoChar), uuid(serialChar)});
    const std::vector<CharacteristicFoundEvent> found = client->waitCharacteristics(echo, 10s);
    ASSERT_EQ(found.size(), 2U);
    EXPECT_EQ(found[0].index, 0);
    EXPECT_TRUE(sameUuid(found[0].uuid, uuid(serialChar))) << formatUuid(found[0].uuid);
    EXPECT_EQ(found[1].index, 1);
    EXPECT_TRUE(sameUuid(found[1].uuid, uuid(echoChar))) << formatUuid(found[1].uuid);
    const uint8_t serialIndex = found[0].index;
    const uint8_t echoIndex = found[1].index;

    client->read(echo, serialIndex);
    const AttributeValueEvent serial = client->waitValue(echo, serialIndex, 10s);
    EXPECT_EQ(std::string(serial.value.begin(), serial.value.end()), "EP-0042");

    // Acknowledged write.
    const std::vector<uint8_t> shortValue = {0x01, 0x02, 0x03};
    client->write(echo, echoIndex, shortValue, true);
    client->waitWriteDone(echo, 10s);
    ASSERT_EQ(dongle->recorded("attclient_attribute_write").size(), 1U);
    EXPECT_EQ(commandData(dongle->recorded("attclient_attribute_write")[0], 3), shortValue);

    // Long write: prepared in chunks, then executed; the chunks make up the value.
    std::vector<uint8_t> longValue(50);
    for (size_t i = 0; i < longValue.size(); ++i) {
        longValue[i] = static_cast<uint8_t>(0xA0 + i);
    }
    client->write(echo, echoIndex, longValue, true);
    client->waitWriteDone(echo, 10s);
    std::vector<uint8_t> prepared;
    for (const std::string& chunk : dongle->recorded("attclient_prepare_write")) {
        const std::vector<uint8_t> data = commandData(chunk, 5);
        prepared.insert(prepared.end(), data.begin(), data.end());
    }
    EXPECT_EQ(prepared, longValue);
    ASSERT_EQ(dongle->recorded("attclient_execute_write").size(), 1U);
    EXPECT_EQ(hexBytes(dongle->recorded("attclient_execute_write")[0]).back(), 1) << "commit";

    // Unacknowledged write, in chunks of at most 20 bytes.
    std::vector<uint8_t> commandValue(30, 0x5A);
    client->write(echo, echoIndex, commandValue, false);
    client->waitWriteDone(echo, 10s);
    std::vector<uint8_t> commanded;
    for (const std::string& chunk : dongle->recorded("attclient_write_command")) {
        const std::vector<uint8_t> data = commandData(chunk, 3);
        EXPECT_LE(data.size(), 20U);
        commanded.insert(commanded.end(), data.begin(), data.end());
    }
    EXPECT_EQ(commanded, commandValue);

    // Notifications: the echo characteristic sends each write back.
    client->notify(echo, echoIndex);
    client->waitWriteDone(echo, 10s);
    client->write(echo, echoIndex, std::vector<uint8_t>{0x55, 0x66}, false);
    EXPECT_EQ(client->waitValue(echo, echoIndex, 10s).value, (std::vector<uint8_t>{0x55, 0x66}));

    client->getRssi(echo);
    const RssiEvent rssi = client->waitRssi(echo, 10s);
    EXPECT_LT(rssi.rssi, -40);
    EXPECT_GT(rssi.rssi, -90);

    client->disconnect(echo);
    EXPECT_EQ(client->waitDisconnected(echo, 10s).reason, 0);
    EXPECT_EQ(linkHandle(*dongle, echoPad), -1);
}

TEST_F(ConduitE2e, IndicationsReachTheSubscriber) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    auto client = openClient();
    const BleAddress echo = address(echoPad);
    client->connect(echo);
    client->waitConnected(echo, 10s);
    client->findAttributes(echo, {uuid(serialChar)});
    const std::vector<CharacteristicFoundEvent> found = client->waitCharacteristics(echo, 10s);
    ASSERT_EQ(found.size(), 1U);
    const uint8_t serialIndex = found[0].index;

    // Indications: the serial characteristic's value changes on the device.
    client->indicate(echo, serialIndex);
    client->waitWriteDone(echo, 10s);
    const int handle = dongle->valueHandle(echoPad, serialChar);
    ASSERT_NE(handle, 0) << dongle->control("peripherals");
    // The acknowledgement may come before the device has applied the configuration
    // (it does so one connection interval after the write): wait until its table
    // shows indications switched on.
    const std::string configuration = std::to_string(handle + 1) + " configuration 2902 [02 00]";
    ASSERT_TRUE(harness::waitUntil(
        [&] { return dongle->control("peripherals").find(configuration) != std::string::npos; },
        5s))
        << dongle->control("peripherals");
    EXPECT_EQ(dongle->control("notify " + echoPad + " " + std::to_string(handle) + " 4550"),
              "ok\n");
    EXPECT_EQ(client->waitValue(echo, serialIndex, 10s).value, (std::vector<uint8_t>{'E', 'P'}));
}

TEST_F(ConduitE2e, EachRemoteDisconnectReasonReachesTheOwner) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    auto client = openClient();
    const BleAddress pulse = address(pulseHr);
    const std::vector<std::pair<std::string, uint8_t>> reasons = {
        {"0x0213", 1}, {"0x0208", 2}, {"0x0222", 3}, {"0x023e", 4}};
    for (const auto& [bgapiReason, code] : reasons) {
        SCOPED_TRACE(bgapiReason);
        client->connect(pulse);
        client->waitConnected(pulse, 10s);
        const int link = linkHandle(*dongle, pulseHr);
        ASSERT_NE(link, -1);
        EXPECT_EQ(dongle->control("disconnect " + std::to_string(link) + " " + bgapiReason),
                  "ok\n");
        EXPECT_EQ(client->waitDisconnected(pulse, 10s).reason, code);
    }
}

TEST_F(ConduitE2e, ClientLeavingReleasesItsDevicesAndItsScan) {
    ASSERT_NO_FATAL_FAILURE(startReady());
    auto staying = openClient();
    auto leaving = openClient();
    staying->connect(address(echoPad));
    staying->waitConnected(address(echoPad), 10s);
    leaving->startScan();
    waitKind<ScanResultEvent>(*leaving, 10s, "a scan result");
    leaving->connect(address(pulseHr));
    leaving->waitConnected(address(pulseHr), 10s);
    ASSERT_TRUE(discovering(*dongle));

    leaving->close();
    EXPECT_TRUE(harness::waitUntil(
        [&] { return linkHandle(*dongle, pulseHr) == -1 && !discovering(*dongle); }, 10s))
        << dongle->control("status");
    EXPECT_NE(linkHandle(*dongle, echoPad), -1) << "the other client's link stays";
    EXPECT_FALSE(dongle->recorded("connection_disconnect").empty());
    // The client that stays may hear of the other's device leaving (disconnections go to
    // every client), but its own link is untouched.
    while (const std::optional<Event> event = staying->nextEvent(500ms)) {
        const auto* gone = std::get_if<DisconnectedEvent>(event.operator->());
        EXPECT_TRUE(gone == nullptr || gone->address != address(echoPad)) << eventName(*event);
    }
}

} // namespace
} // namespace e2e
