// SimDevice behaving as a module does where hosts notice: GAP settings, connection
// updates, pairing and bonds, the boot only an open port hears, a command parser that
// recovers, GATT discoveries in ATT rounds, scan windows, the own address, resets into
// firmware update, and address types on connect. Every packet is checked against its
// row of messages.tsv.
#include "device_fixture.h"

#include <map>

namespace {

using namespace devicetest;

// The connection interval these tests connect with: 24 × 1.25 ms = 30 ms.
constexpr long long interval = 24;
constexpr int roundMs = 30;

class Fidelity : public Device {
protected:
    long long connectEvery30Ms(const std::string& address, long long addressType = 0) {
        send("gap_connect_direct",
             {simtest::address(address), addressType, interval, interval, 100LL, 0LL});
        EXPECT_EQ(only("gap_connect_direct")["result"], 0);
        run(1000);
        const Parsed status = only("connection_status");
        EXPECT_EQ(status["conn_interval"], interval);
        return status["connection"];
    }

    // The names of the packets sent in each of the next `rounds` connection intervals.
    std::vector<std::vector<std::string>> rounds(int count) {
        std::vector<std::vector<std::string>> out;
        for (int round = 0; round < count; ++round) {
            run(roundMs);
            out.push_back(names());
        }
        return out;
    }

    static sim::SimConfig realistic() { return {}; }
};

using Names = std::vector<std::string>;

TEST_F(Fidelity, GapSettingsSucceedAndDuplicateFilteringReportsEachDeviceOnce) {
    boot();
    send("gap_set_mode", {2LL, 2LL});
    EXPECT_EQ(only("gap_set_mode")["result"], 0);
    send("gap_set_mode", {5LL, 2LL});
    EXPECT_EQ(only("gap_set_mode")["result"], 0x0180);
    send("gap_set_adv_parameters", {0x20LL, 0x40LL, 7LL});
    EXPECT_EQ(only("gap_set_adv_parameters")["result"], 0);
    send("gap_set_adv_parameters", {0x40LL, 0x20LL, 7LL});
    EXPECT_EQ(only("gap_set_adv_parameters")["result"], 0x0180);
    send("gap_set_filtering", {0LL, 0LL, 1LL});
    EXPECT_EQ(only("gap_set_filtering")["result"], 0);
    send("gap_set_filtering", {2LL, 0LL, 1LL});
    EXPECT_EQ(only("gap_set_filtering")["result"], 0x0180);

    send("gap_set_scan_parameters", {2000LL, 2000LL, 1LL});
    take();
    send("gap_discover", {2LL});
    take();
    run(3000);
    std::map<std::pair<Bytes, long long>, int> reports;
    for (const auto& parsed : take()) {
        ++reports[{parsed.data.at("sender"), parsed["packet_type"]}];
    }
    // Four advertisements and the scan responses of the two that have one (active scan).
    EXPECT_EQ(reports.size(), 6u);
    for (const auto& [report, count] : reports) {
        EXPECT_EQ(count, 1);
    }
}

TEST_F(Fidelity, ConnectionUpdateAppliesTheNewParametersSixEventsLater) {
    boot(realistic());
    const long long link = connectEvery30Ms(heartRate);
    send("connection_update", {link, 40LL, 56LL, 2LL, 300LL});
    const Parsed response = only("connection_update");
    EXPECT_EQ(response["result"], 0);
    EXPECT_EQ(response["connection"], link);
    run(6 * roundMs - 1);
    EXPECT_TRUE(take().empty());
    run(1);
    const Parsed status = only("connection_status");
    EXPECT_EQ(status["flags"], 0x09); // connected, parameters changed
    EXPECT_EQ(status["conn_interval"], 40);
    EXPECT_EQ(status["latency"], 2);
    EXPECT_EQ(status["timeout"], 300);
    ASSERT_EQ(device->connections().size(), 1u);
    EXPECT_EQ(device->connections()[0].interval, 40);

    send("connection_update", {link, 56LL, 40LL, 2LL, 300LL});
    EXPECT_EQ(only("connection_update")["result"], 0x0180);
    send("connection_update", {5LL, 40LL, 56LL, 0LL, 300LL});
    EXPECT_EQ(only("connection_update")["result"], 0x0186);
    run(1000);
    EXPECT_TRUE(take().empty());
}

TEST_F(Fidelity, PairingABondablePeripheralEncryptsTheLinkAndStoresABond) {
    boot(realistic());
    long long link = connectEvery30Ms(heartRate);
    send("sm_encrypt_start", {link, 1LL});
    EXPECT_EQ(only("sm_encrypt_start")["result"], 0);
    run(2 * roundMs - 1);
    EXPECT_TRUE(take().empty());
    run(1);
    auto packets = take();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].row->name, "connection_status");
    EXPECT_EQ(packets[0]["flags"], 0x03); // connected, encrypted
    EXPECT_EQ(packets[0]["bonding"], 0);
    EXPECT_EQ(packets[1].row->name, "sm_bond_status");
    EXPECT_EQ(packets[1]["bond"], 0);
    EXPECT_EQ(packets[1]["keysize"], 16);
    EXPECT_TRUE(device->connections()[0].encrypted);

    send("sm_get_bonds");
    packets = take();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0]["bonds"], 1);
    EXPECT_EQ(packets[1].row->name, "sm_bond_status");
    EXPECT_EQ(packets[1]["bond"], 0);

    // The bond outlives the link and a reset: the next link says so from the start.
    send("connection_disconnect", {link});
    run(100);
    take();
    send("system_reset", {0LL});
    run(1000);
    take();
    send("gap_connect_direct", {simtest::address(heartRate), 0LL, interval, interval, 100LL, 0LL});
    take();
    run(1000);
    EXPECT_EQ(only("connection_status")["bonding"], 0);
    send("sm_delete_bonding", {0xFFLL});
    EXPECT_EQ(only("sm_delete_bonding")["result"], 0);
    send("sm_get_bonds");
    EXPECT_EQ(only("sm_get_bonds")["bonds"], 0);

    // Encryption without bonding stores nothing.
    link = device->connections()[0].handle;
    send("sm_encrypt_start", {link, 0LL});
    take();
    run(2 * roundMs);
    const Parsed status = only("connection_status");
    EXPECT_EQ(status["flags"], 0x03);
    EXPECT_EQ(status["bonding"], 0xFF);
}

TEST_F(Fidelity, PairingAPeripheralThatIsNotBondableFailsWithAnAuthenticationFailure) {
    boot(realistic());
    const long long link = connectEvery30Ms(echoPad);
    send("sm_encrypt_start", {link, 1LL});
    EXPECT_EQ(only("sm_encrypt_start")["result"], 0);
    run(2 * roundMs);
    const Parsed failed = only("sm_bonding_fail");
    EXPECT_EQ(failed["handle"], link);
    EXPECT_EQ(failed["result"], 0x0205);
    EXPECT_FALSE(device->connections()[0].encrypted);
    send("sm_get_bonds");
    EXPECT_EQ(only("sm_get_bonds")["bonds"], 0);
    send("sm_encrypt_start", {6LL, 1LL});
    EXPECT_EQ(only("sm_encrypt_start")["result"], 0x0186);
}

TEST_F(Fidelity, TheBootReachesOnlyAHostThatHasThePortOpenAsTheDongleComesBack) {
    link.open = false;
    device = std::make_unique<sim::SimDevice>(instant(), sim::builtinPeripherals(), link);
    device->start(now);
    EXPECT_TRUE(link.present);
    EXPECT_TRUE(take().empty());
    send("system_reset", {0LL});
    run(1000);
    EXPECT_TRUE(take().empty());
    send("system_hello");
    only("system_hello");

    link.open = true;
    send("system_reset", {0LL});
    run(1000);
    only("system_boot");
}

TEST_F(Fidelity, AHostThatOpensThePortJustAfterTheDongleComesBackHearsNoBoot) {
    link.open = false;
    link.opensOnAppear = true;
    device = std::make_unique<sim::SimDevice>(instant(), sim::builtinPeripherals(), link);
    device->start(now);
    ASSERT_TRUE(link.open) << "the host opened the port as the dongle appeared";
    EXPECT_TRUE(take().empty());
    send("system_hello");
    only("system_hello");

    send("system_reset", {0LL});
    run(1000);
    ASSERT_TRUE(link.open) << "the host opened the port again as the dongle came back";
    EXPECT_TRUE(take().empty());
    send("system_hello");
    only("system_hello");
}

TEST_F(Fidelity, AStrayByteBeforeACommandCostsTheCommandNothing) {
    boot();
    device->receive(Bytes{0x80, 0x00, 0x00, 0x00, 0x01}, now); // stray 0x80, then hello
    only("system_hello");

    // A stray 0x00 makes a header of system_reset with no payload, which cannot be.
    device->receive(Bytes{0x00, 0x00, 0x00, 0x00, 0x01}, now);
    auto packets = take();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].row->name, "system_protocol_error");
    EXPECT_EQ(packets[0]["reason"], 0x0180);
    EXPECT_EQ(packets[1].row->name, "system_hello");
    EXPECT_TRUE(link.present) << "no reset ran";
}

TEST_F(Fidelity, AHeaderOfNoCommandIsAnsweredWithAProtocolErrorAndParsingGoesOn) {
    boot();
    device->receive(Bytes{0x00, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x01}, now);
    auto packets = take();
    ASSERT_GE(packets.size(), 2u);
    EXPECT_EQ(packets.front().row->name, "system_protocol_error");
    EXPECT_EQ(packets.front()["reason"], 0x0184);
    EXPECT_EQ(packets.back().row->name, "system_hello");
    for (size_t i = 0; i + 1 < packets.size(); ++i) {
        EXPECT_EQ(packets[i].row->name, "system_protocol_error");
    }
    send("system_hello");
    only("system_hello");
    const auto& record = device->record();
    ASSERT_FALSE(record.empty());
    EXPECT_EQ(record.front().name, "") << "the rejected header is recorded without a name";
}

TEST_F(Fidelity, APartialCommandIdleLongerThanTheBoundIsDiscarded) {
    boot();
    // gap_set_privacy_flags cut after 3 bytes; the next commands come 101 ms later.
    device->receive(Bytes{0x00, 0x01, 0x06}, now);
    run(101);
    const Bytes hello = simtest::command("system_hello", {});
    Bytes twoHellos = hello;
    twoHellos.insert(twoHellos.end(), hello.begin(), hello.end());
    device->receive(twoHellos, now);
    EXPECT_EQ(names(), (Names{"system_hello", "system_hello"}));
    EXPECT_TRUE(link.present) << "no reset ran";

    // Within the bound, the pieces of one command make that command.
    device->receive(Bytes{0x00, 0x00}, now);
    run(100);
    device->receive(Bytes{0x00, 0x01}, now);
    only("system_hello");

    // The same cut command followed at once by two hellos: the parser steps past it.
    Bytes stream = {0x00, 0x01, 0x06};
    stream.insert(stream.end(), twoHellos.begin(), twoHellos.end());
    device->receive(stream, now);
    const Names answered = names();
    ASSERT_GE(answered.size(), 2u);
    EXPECT_EQ(answered[answered.size() - 2], "system_hello");
    EXPECT_EQ(answered.back(), "system_hello");
    EXPECT_TRUE(link.present) << "no reset ran";
    send("system_hello");
    only("system_hello");
}

TEST_F(Fidelity, FindInformationRunsInRoundsOfFiveShortOrOneLongUuid) {
    boot(realistic());
    long long link = connectEvery30Ms(heartRate);
    send("attclient_find_information", {link, 1LL, 0xFFFFLL});
    EXPECT_EQ(only("attclient_find_information")["result"], 0);
    const Names five(5, "attclient_find_information_found");
    // Ten attributes with 16-bit types, then the peer's "not found".
    EXPECT_EQ(rounds(4), (std::vector<Names>{five, five, {"attclient_procedure_completed"}, {}}));

    link = connectEvery30Ms(echoPad);
    send("attclient_find_information", {link, 1LL, 0xFFFFLL});
    take();
    // 1 service, 2 declaration (16-bit); 3 value (128-bit); 4 configuration,
    // 5 declaration; 6 value (128-bit); 7 configuration; then "not found".
    const Names two(2, "attclient_find_information_found");
    const Names one(1, "attclient_find_information_found");
    EXPECT_EQ(rounds(7),
              (std::vector<Names>{two, one, two, one, one, {"attclient_procedure_completed"}, {}}));
}

TEST_F(Fidelity, ServicesAndCharacteristicsAreFoundInRoundsWithAFinalNotFoundRound) {
    boot(realistic());
    const long long heart = connectEvery30Ms(heartRate);
    send("attclient_read_by_group_type", {heart, 1LL, 0xFFFFLL, Bytes{0x00, 0x28}});
    take();
    EXPECT_EQ(rounds(3), (std::vector<Names>{{"attclient_group_found", "attclient_group_found"},
                                             {"attclient_procedure_completed"},
                                             {}}));
    // Three characteristic declarations of 7 bytes each fill one response.
    send("attclient_read_by_type", {heart, 1LL, 0xFFFFLL, Bytes{0x03, 0x28}});
    take();
    const Names three(3, "attclient_attribute_value");
    EXPECT_EQ(rounds(3), (std::vector<Names>{three, {"attclient_procedure_completed"}, {}}));

    // A range that ends at the last match needs no "not found" round.
    send("attclient_read_by_group_type", {heart, 1LL, 6LL, Bytes{0x00, 0x28}});
    take();
    EXPECT_EQ(rounds(2),
              (std::vector<Names>{{"attclient_group_found", "attclient_procedure_completed"}, {}}));

    // Nothing found: the first round is the "not found".
    send("attclient_read_by_group_type", {heart, 1LL, 0xFFFFLL, Bytes{0x01, 0x28}});
    take();
    run(roundMs);
    EXPECT_EQ(only("attclient_procedure_completed")["result"], 0x040A);

    // The link ends mid-discovery: the rounds left are not sent.
    send("attclient_find_information", {heart, 1LL, 0xFFFFLL});
    take();
    run(roundMs);
    take();
    ASSERT_TRUE(device->remoteDisconnect(static_cast<uint8_t>(heart), 0x0213, now));
    only("connection_disconnected");
    run(10 * roundMs);
    EXPECT_TRUE(take().empty());
}

TEST_F(Fidelity, ScanningHearsAdvertisementsOnlyInItsWindows) {
    const auto heard = [this](sim::SimConfig config) {
        boot(config);
        // Every 100 ms a window of 10 ms; passive.
        send("gap_set_scan_parameters", {160LL, 16LL, 0LL});
        take();
        send("gap_discover", {2LL});
        take();
        const sim::SimTime start = now;
        int count = 0;
        for (int ms = 0; ms < 5000; ++ms) {
            run(1);
            for (const auto& parsed : take()) {
                EXPECT_EQ(parsed.row->name, "gap_scan_response");
                if (!config.instant) {
                    EXPECT_LT((now - start).count() % 100, 10) << "at " << now.count() << " ms";
                }
                ++count;
            }
        }
        return count;
    };
    const int windowed = heard(realistic());
    const int all = heard(instant());
    EXPECT_GT(windowed, 0);
    EXPECT_LT(windowed * 3, all) << windowed << " of " << all;
}

TEST_F(Fidelity, OwnAddressCarriesTheVendorPrefixInWireOrder) {
    boot();
    send("system_address_get");
    const Bytes address = only("system_address_get").data.at("address");
    // 00:07:80:5E:00:01, least significant byte first.
    EXPECT_EQ(address, (Bytes{0x01, 0x00, 0x5E, 0x80, 0x07, 0x00}));
}

TEST_F(Fidelity, AResetIntoFirmwareUpdateBootsTheNormalProgram) {
    boot();
    send("system_reset", {1LL});
    EXPECT_TRUE(take().empty());
    EXPECT_FALSE(link.present);
    run(1000);
    const Parsed boot = only("system_boot");
    EXPECT_EQ(boot["major"], 1);
    send("system_hello");
    only("system_hello");
    send("gap_set_scan_parameters", {2000LL, 2000LL, 1LL});
    EXPECT_EQ(only("gap_set_scan_parameters")["result"], 0);
}

TEST_F(Fidelity, ARandomAddressPeripheralAnswersOnlyAConnectWithAddressTypeOne) {
    boot();
    send("gap_connect_direct", {simtest::address(thermo), 0LL, 6LL, 24LL, 100LL, 0LL});
    EXPECT_EQ(only("gap_connect_direct")["result"], 0);
    run(5000);
    EXPECT_TRUE(take().empty()) << "a connect with the wrong type never completes";
    send("gap_end_procedure");
    EXPECT_EQ(only("gap_end_procedure")["result"], 0);

    const long long link = connect(thermo, 1);
    const auto links = device->connections();
    ASSERT_EQ(links.size(), 1u);
    EXPECT_EQ(links[0].handle, link);
    // And a public address is not answered as random.
    send("gap_connect_direct", {simtest::address(echoPad), 1LL, 6LL, 24LL, 100LL, 0LL});
    take();
    run(3000);
    EXPECT_TRUE(take().empty());
}

} // namespace
