// SimDevice on simulated time: each procedure and fault, with every packet it sends
// checked against its row of messages.tsv by the reference reader.
#include "device_fixture.h"

namespace {

using namespace devicetest;

TEST_F(Device, ResetGetsNoResponseLeavesTheBusAndBootsAfterTheDelay) {
    boot();
    send("system_reset", {0LL});
    EXPECT_TRUE(take().empty());
    EXPECT_FALSE(link.present);
    run(999);
    EXPECT_FALSE(link.present);
    send("system_hello");
    EXPECT_TRUE(take().empty()); // nobody is there to answer
    run(1);
    EXPECT_TRUE(link.present);
    const Parsed boot = only("system_boot");
    EXPECT_EQ(boot["major"], 1);
    EXPECT_EQ(boot["minor"], 3);
}

TEST_F(Device, AnswersEveryCommandOfTheTableWithOneResponseOfItsRow) {
    boot();
    for (const auto& row : simtest::rows()) {
        if (row.kind != "command" || row.name == "system_reset" || row.name == "dfu_reset") {
            continue;
        }
        SCOPED_TRACE(row.name);
        device->receive(simtest::command(row.name, simtest::sampleFields(row)), now);
        int responses = 0;
        for (const auto& parsed : take()) {
            if (parsed.row->kind == "response") {
                ++responses;
                EXPECT_EQ(parsed.row->classId, row.classId);
                EXPECT_EQ(parsed.row->id, row.id);
            }
        }
        EXPECT_EQ(responses, 1);
        run(100);
        take();
    }
}

TEST_F(Device, RefusesWhatItDoesNotCarryOut) {
    boot();
    send("connection_version_update", {2LL});
    const Parsed refused = only("connection_version_update");
    EXPECT_EQ(refused["result"], 0x0183);
    EXPECT_EQ(refused["connection"], 2);
    // The parser steps one byte past a rejected header; the rest of it is dropped once
    // it has been idle for the bound.
    device->receive(Bytes{0x00, 0x00, 0x0A, 0x00}, now);
    EXPECT_EQ(only("system_protocol_error")["reason"], 0x0184);
    run(101);
    device->receive(Bytes{0x00, 0x00, 0x03, 0x01}, now); // connection_get_rssi, no payload
    EXPECT_EQ(only("system_protocol_error")["reason"], 0x0180);
    run(101);
    send("system_get_connections");
    EXPECT_EQ(only("system_get_connections")["maxconn"], 3);
}

TEST_F(Device, ReportsAdvertisingPeripheralsWhileDiscoveryRuns) {
    boot();
    send("gap_set_scan_parameters", {2000LL, 2000LL, 1LL});
    EXPECT_EQ(only("gap_set_scan_parameters")["result"], 0);
    send("gap_discover", {2LL});
    EXPECT_EQ(only("gap_discover")["result"], 0);
    run(1000);
    std::map<Bytes, int> adverts;
    int scanResponses = 0;
    for (const auto& parsed : take()) {
        ASSERT_EQ(parsed.row->name, "gap_scan_response");
        const Bytes sender = parsed.data.at("sender");
        if (parsed["packet_type"] == 4) {
            ++scanResponses;
            continue;
        }
        ++adverts[sender];
        if (sender == simtest::address(heartRate)) {
            EXPECT_GE(parsed["rssi"], -62);
            EXPECT_LE(parsed["rssi"], -54);
            EXPECT_EQ(parsed["packet_type"], 0);
            EXPECT_EQ(parsed["bond"], 0xFF);
        }
        if (sender == simtest::address(beacon)) {
            EXPECT_EQ(parsed["packet_type"], 2);
            EXPECT_EQ(parsed["address_type"], 1);
        }
    }
    // Intervals of 100, 250, 150 and 300 ms, each event up to 10 ms late.
    EXPECT_GE(adverts[simtest::address(heartRate)], 8);
    EXPECT_LE(adverts[simtest::address(heartRate)], 10);
    EXPECT_GE(adverts[simtest::address(thermo)], 3);
    EXPECT_GE(adverts[simtest::address(beacon)], 3);
    EXPECT_GT(scanResponses, 0);

    send("gap_discover", {2LL});
    EXPECT_EQ(only("gap_discover")["result"], 0x0181);
    send("gap_end_procedure");
    EXPECT_EQ(only("gap_end_procedure")["result"], 0);
    run(1000);
    EXPECT_TRUE(take().empty());
    send("gap_end_procedure");
    EXPECT_EQ(only("gap_end_procedure")["result"], 0x0181);
}

TEST_F(Device, GenericDiscoveryLeavesOutTheBeaconAndPassiveScansGetNoScanResponses) {
    boot();
    send("gap_discover", {1LL});
    take();
    run(2000);
    for (const auto& parsed : take()) {
        EXPECT_NE(parsed.data.at("sender"), simtest::address(beacon));
        EXPECT_NE(parsed["packet_type"], 4);
    }
}

TEST_F(Device, ConnectsOnceThePeripheralAnswersWithinTheConnectionLimit) {
    sim::SimConfig config;
    config.maxConnections = 2;
    config.refuseConnectWhileDiscovering = true;
    boot(config);
    send("gap_discover", {2LL});
    take();
    send("gap_connect_direct", {simtest::address(heartRate), 0LL, 6LL, 24LL, 100LL, 0LL});
    EXPECT_EQ(only("gap_connect_direct")["result"], 0x0181); // discovery is running
    send("gap_end_procedure");
    take();
    EXPECT_EQ(connect(heartRate), 0);
    EXPECT_EQ(connect(echoPad), 1);
    send("gap_connect_direct", {simtest::address(thermo), 1LL, 6LL, 24LL, 100LL, 0LL});
    EXPECT_EQ(only("gap_connect_direct")["result"], 0x0209);
    send("gap_connect_direct", {simtest::address(thermo), 1LL, 24LL, 6LL, 100LL, 0LL});
    EXPECT_EQ(only("gap_connect_direct")["result"], 0x0180); // min above max
    ASSERT_EQ(device->connections().size(), 2u);
}

TEST_F(Device, ConnectsDuringDiscoveryUnlessConfiguredToRefuse) {
    boot();
    send("gap_discover", {2LL});
    take();
    send("gap_connect_direct", {simtest::address(heartRate), 0LL, 6LL, 24LL, 100LL, 0LL});
    EXPECT_EQ(only("gap_connect_direct")["result"], 0);
}

TEST_F(Device, AllowsUpToEightConnections) {
    sim::SimConfig config;
    config.maxConnections = 12;
    boot(config);
    send("system_get_connections");
    EXPECT_EQ(only("system_get_connections")["maxconn"], 8);
}

TEST_F(Device, AConnectNobodyAnswersStaysPendingUntilTheHostEndsIt) {
    boot();
    ASSERT_TRUE(device->setInRange(*sim::parseAddress(heartRate), false, now));
    for (const std::string& target : {heartRate, beacon, std::string("00:11:22:33:44:55")}) {
        send("gap_connect_direct", {simtest::address(target), 0LL, 6LL, 24LL, 100LL, 0LL});
        EXPECT_EQ(only("gap_connect_direct")["result"], 0);
        run(3000);
        EXPECT_TRUE(take().empty());
        send("gap_connect_direct", {simtest::address(echoPad), 0LL, 6LL, 24LL, 100LL, 0LL});
        EXPECT_EQ(only("gap_connect_direct")["result"], 0x0181);
        send("gap_end_procedure");
        EXPECT_EQ(only("gap_end_procedure")["result"], 0);
    }
    device->stallConnects(1);
    send("gap_connect_direct", {simtest::address(echoPad), 0LL, 6LL, 24LL, 100LL, 0LL});
    take();
    run(3000);
    EXPECT_TRUE(take().empty());
    send("gap_end_procedure");
    take();
    EXPECT_EQ(connect(echoPad), 0); // the stall was for one connect only
}

TEST_F(Device, DiscoversPrimaryServicesComparingUuidsAs128Bits) {
    boot();
    const long long link = connect(heartRate);
    for (const Bytes& type : {Bytes{0x00, 0x28}, uuid128(0x2800)}) {
        send("attclient_read_by_group_type", {link, 1LL, 0xFFFFLL, type});
        EXPECT_EQ(only("attclient_read_by_group_type")["result"], 0);
        run(30);
        const auto packets = take();
        ASSERT_EQ(packets.size(), 3u);
        EXPECT_EQ(packets[0].row->name, "attclient_group_found");
        EXPECT_EQ(packets[0]["start"], 1);
        EXPECT_EQ(packets[0]["end"], 6);
        EXPECT_EQ(packets[0].data.at("uuid"), (Bytes{0x0D, 0x18}));
        EXPECT_EQ(packets[1]["start"], 7);
        EXPECT_EQ(packets[1].data.at("uuid"), (Bytes{0x0F, 0x18}));
        EXPECT_EQ(packets[2].row->name, "attclient_procedure_completed");
        EXPECT_EQ(packets[2]["result"], 0);
    }
}

TEST_F(Device, FindsCharacteristicsByTypeWithTheAttErrorsOfAPeripheral) {
    boot();
    const long long link = connect(heartRate);
    send("attclient_read_by_type", {link, 1LL, 0xFFFFLL, uuid128(0x2A38)});
    take();
    run(30);
    auto packets = take();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].row->name, "attclient_attribute_value");
    EXPECT_EQ(packets[0]["type"], 3);
    EXPECT_EQ(packets[0]["atthandle"], hrLocation);
    EXPECT_EQ(packets[0].data.at("value"), Bytes{0x01});
    EXPECT_EQ(packets[1]["result"], 0);

    // The measurement only notifies: its read fails at its handle.
    send("attclient_read_by_type", {link, 1LL, 0xFFFFLL, uuid128(0x2A37)});
    take();
    run(30);
    Parsed completed = only("attclient_procedure_completed");
    EXPECT_EQ(completed["result"], 0x0402);
    EXPECT_EQ(completed["chrhandle"], hrMeasurement);

    // Same 16 bits, other base: a different UUID.
    Bytes other = uuid128(0x2A38);
    other[0] ^= 0x01;
    send("attclient_read_by_type", {link, 1LL, 0xFFFFLL, other});
    take();
    run(30);
    EXPECT_EQ(only("attclient_procedure_completed")["result"], 0x040A);

    send("attclient_read_by_type", {link, 1LL, 0xFFFFLL, Bytes{1, 2, 3}});
    EXPECT_EQ(only("attclient_read_by_type")["result"], 0x0180);
}

TEST_F(Device, ReadsByHandleWithAValueOnlyOnSuccess) {
    boot();
    const long long link = connect(heartRate);
    send("attclient_read_by_handle", {link, hrLocation});
    EXPECT_EQ(only("attclient_read_by_handle")["result"], 0);
    run(30);
    const Parsed value = only("attclient_attribute_value");
    EXPECT_EQ(value["type"], 0);
    EXPECT_EQ(value.data.at("value"), Bytes{0x01});
    const std::pair<long long, long long> failures[] = {{hrMeasurement, 0x0402}, {99, 0x0401}};
    for (const auto& [handle, code] : failures) {
        send("attclient_read_by_handle", {link, handle});
        take();
        run(30);
        const Parsed completed = only("attclient_procedure_completed");
        EXPECT_EQ(completed["result"], code);
        EXPECT_EQ(completed["chrhandle"], handle);
    }
    send("attclient_read_by_handle", {7LL, hrLocation});
    EXPECT_EQ(only("attclient_read_by_handle")["result"], 0x0186);
    run(30);
    EXPECT_TRUE(take().empty());
}

TEST_F(Device, WritesWithAcknowledgementAndEchoesThem) {
    boot();
    const long long link = connect(echoPad);
    subscribe(link, echoValue, 1);
    send("attclient_attribute_write", {link, echoValue, Bytes{'h', 'i'}});
    EXPECT_EQ(only("attclient_attribute_write")["result"], 0);
    run(30);
    auto packets = take();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].row->name, "attclient_attribute_value");
    EXPECT_EQ(packets[0]["type"], 1);
    EXPECT_EQ(packets[0].data.at("value"), (Bytes{'h', 'i'}));
    EXPECT_EQ(packets[1]["result"], 0);
    EXPECT_EQ(packets[1]["chrhandle"], echoValue);

    send("attclient_attribute_write", {link, echoSerial, Bytes{1}});
    take();
    run(30);
    EXPECT_EQ(only("attclient_procedure_completed")["result"], 0x0403);
}

TEST_F(Device, WritesLongValuesInPreparedPieces) {
    boot();
    const long long link = connect(echoPad);
    subscribe(link, echoValue, 1);
    Bytes value(40);
    for (size_t i = 0; i < value.size(); ++i) {
        value[i] = static_cast<uint8_t>(i);
    }
    for (long long offset = 0; offset < 40; offset += 18) {
        const auto first = value.begin() + offset;
        const Bytes piece(first, first + std::min<long long>(18, 40 - offset));
        send("attclient_prepare_write", {link, echoValue, offset, piece});
        EXPECT_EQ(only("attclient_prepare_write")["result"], 0);
        run(30);
        EXPECT_EQ(only("attclient_procedure_completed")["result"], 0);
    }
    send("attclient_execute_write", {link, 1LL});
    EXPECT_EQ(only("attclient_execute_write")["result"], 0);
    run(30);
    auto packets = take();
    ASSERT_EQ(packets.size(), 3u);
    Bytes echoed = packets[0].data.at("value");
    echoed.insert(echoed.end(), packets[1].data.at("value").begin(),
                  packets[1].data.at("value").end());
    EXPECT_EQ(echoed, value);
    EXPECT_EQ(packets[2]["result"], 0);
    EXPECT_EQ(packets[2]["chrhandle"], echoValue);

    send("attclient_prepare_write", {link, echoSerial, 0LL, Bytes{1}});
    take();
    run(30);
    EXPECT_EQ(only("attclient_procedure_completed")["result"], 0x0403);
}

TEST_F(Device, WriteCommandsGetAResponseOnlyAndFailWhileBuffersAreFull) {
    boot();
    const long long link = connect(echoPad);
    subscribe(link, echoValue, 1);
    device->failWriteCommands(2);
    for (const long long expected : {0x0182, 0x0182, 0}) {
        send("attclient_write_command", {link, echoValue, Bytes{'x'}});
        EXPECT_EQ(only("attclient_write_command")["result"], expected);
    }
    run(30);
    EXPECT_EQ(only("attclient_attribute_value").data.at("value"), Bytes{'x'});
    send("attclient_write_command", {link, echoSerial, Bytes{'y'}}); // not writable: dropped
    EXPECT_EQ(only("attclient_write_command")["result"], 0);
    run(30);
    EXPECT_TRUE(take().empty());
}

TEST_F(Device, NotifiesAndIndicatesOnceSubscribed) {
    boot();
    const long long link = connect(heartRate);
    run(3000);
    EXPECT_TRUE(take().empty());
    subscribe(link, hrMeasurement, 1);
    run(3000);
    auto packets = take();
    ASSERT_EQ(packets.size(), 3u);
    for (const auto& packet : packets) {
        EXPECT_EQ(packet["type"], 1);
        EXPECT_EQ(packet["atthandle"], hrMeasurement);
    }
    EXPECT_NE(packets[0].data.at("value"), packets[1].data.at("value"));
    subscribe(link, hrMeasurement, 0);
    run(3000);
    EXPECT_TRUE(take().empty());

    subscribe(link, 9, 2); // battery level: indications
    ASSERT_TRUE(device->updateValue(*sim::parseAddress(heartRate), 9, Bytes{50}, now));
    EXPECT_EQ(only("attclient_attribute_value")["type"], 2);
}

TEST_F(Device, IndicationsToConfirmWaitForTheHostsConfirmation) {
    sim::SimConfig config;
    config.confirmIndications = true;
    boot(config);
    const long long link = connect(echoPad);
    subscribe(link, echoSerial, 2);
    ASSERT_TRUE(device->updateValue(*sim::parseAddress(echoPad), echoSerial, Bytes{7}, now));
    EXPECT_EQ(only("attclient_attribute_value")["type"], 5);
    send("attclient_indicate_confirm", {link});
    EXPECT_EQ(only("attclient_indicate_confirm")["result"], 0);
    send("attclient_indicate_confirm", {link});
    EXPECT_EQ(only("attclient_indicate_confirm")["result"], 0x0181);
}

TEST_F(Device, ReportsTheRssiOfALink) {
    boot();
    const long long link = connect(heartRate);
    send("connection_get_rssi", {link});
    const Parsed rssi = only("connection_get_rssi");
    EXPECT_GE(rssi["rssi"], -62);
    EXPECT_LE(rssi["rssi"], -54);
    send("connection_get_rssi", {5LL});
    EXPECT_EQ(only("connection_get_rssi")["rssi"], 0);
}

TEST_F(Device, EndsLinksLocallyAndRemotely) {
    boot();
    long long link = connect(heartRate);
    send("connection_disconnect", {link});
    const Parsed response = only("connection_disconnect");
    EXPECT_EQ(response["result"], 0);
    run(50);
    const Parsed ended = only("connection_disconnected");
    EXPECT_EQ(ended["connection"], link);
    EXPECT_EQ(ended["reason"], 0x0216);
    send("connection_disconnect", {link});
    EXPECT_EQ(only("connection_disconnect")["result"], 0x0186);
    run(50);
    EXPECT_TRUE(take().empty());

    for (const uint16_t reason : {0x0213, 0x0208, 0x0222}) {
        link = connect(heartRate);
        ASSERT_TRUE(device->remoteDisconnect(static_cast<uint8_t>(link), reason, now));
        EXPECT_EQ(only("connection_disconnected")["reason"], reason);
    }
    EXPECT_FALSE(device->remoteDisconnect(0, 0x0213, now));

    // A peripheral that goes out of range is lost after the supervision timeout (1 s).
    link = connect(heartRate);
    ASSERT_TRUE(device->setInRange(*sim::parseAddress(heartRate), false, now));
    run(999);
    EXPECT_TRUE(take().empty());
    run(1);
    EXPECT_EQ(only("connection_disconnected")["reason"], 0x0208);
}

TEST_F(Device, SilenceSlownessAndUnplugging) {
    boot();
    device->setSilent(true);
    send("system_hello");
    EXPECT_TRUE(take().empty());
    device->setSilent(false);
    send("system_hello");
    only("system_hello");

    device->setResponseDelay(300);
    send("system_hello");
    run(299);
    EXPECT_TRUE(take().empty());
    run(1);
    only("system_hello");
    device->setResponseDelay(0);

    device->unplug(now);
    EXPECT_FALSE(link.present);
    run(5000);
    send("system_hello");
    EXPECT_TRUE(take().empty());
    device->replug(now);
    EXPECT_TRUE(link.present);
    only("system_boot");
    send("system_hello");
    only("system_hello");

    const auto& record = device->record();
    ASSERT_EQ(record.size(), 4u); // the one sent while unplugged never arrived
    EXPECT_EQ(record[0].name, "system_hello");
    EXPECT_EQ(record[0].bytes, (Bytes{0x00, 0x00, 0x00, 0x01}));
    EXPECT_EQ(record[2].at, milliseconds(0));
    EXPECT_EQ(record[3].at, milliseconds(5300));
}

// The record keeps the newest commands up to its limit (10,000 unless set); a limit of 0
// keeps every command.
TEST_F(Device, RecordKeepsTheNewestCommandsUpToItsLimit) {
    EXPECT_EQ(sim::SimConfig{}.recordLimit, 10000u);
    sim::SimConfig config;
    config.recordLimit = 3;
    ASSERT_NO_FATAL_FAILURE(boot(config));
    for (int i = 0; i < 5; ++i) {
        send("system_hello");
    }
    send("system_address_get");
    const auto& record = device->record();
    ASSERT_EQ(record.size(), 3u);
    EXPECT_EQ(record[0].name, "system_hello");
    EXPECT_EQ(record[2].name, "system_address_get");
    take();

    config.recordLimit = 0;
    ASSERT_NO_FATAL_FAILURE(boot(config));
    for (int i = 0; i < 20; ++i) {
        send("system_hello");
    }
    EXPECT_EQ(device->record().size(), 20u);
}

} // namespace
