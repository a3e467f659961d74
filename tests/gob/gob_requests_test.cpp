// The request codecs: exact bytes written, the same fields read back, and short or
// foreign input refused.
#include "gob/gob_requests.h"
#include "gob_test_util.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

const BleAddress address{{0x11, 0x22, 0x33, 0x44, 0x55, 0x66}};
const std::vector<uint8_t> addressBytes{0x11, 0x22, 0x33, 0x44, 0x55, 0x66};

TEST(GobRequests, ScanRequestsAreOneTypeByte) {
    Gob start;
    Gob stop;
    ASSERT_EQ(codeGobStartScan(start), 0);
    ASSERT_EQ(codeGobStopScan(stop), 0);
    EXPECT_EQ(contentOf(start), std::vector<uint8_t>{0});
    EXPECT_EQ(contentOf(stop), std::vector<uint8_t>{1});
    Gob startRead = readingCopy(start);
    Gob stopAsStart = readingCopy(stop);
    EXPECT_EQ(codeGobStartScan(startRead), 0);
    EXPECT_EQ(codeGobStartScan(stopAsStart), -1);
}

TEST(GobRequests, ConnectRoundTrip) {
    BleAddress written = address;
    uint32_t intervalMin = 6;
    uint32_t intervalMax = 0x0C80;
    uint32_t timeout = 0x01020304;
    uint32_t latency = 0xFFFFFFFF;
    Gob gob;
    ASSERT_EQ(codeGobConnect(gob, written, intervalMin, intervalMax, timeout, latency), 0);
    const auto expected = join({{2},
                                addressBytes,
                                {6, 0, 0, 0},
                                {0x80, 0x0C, 0, 0},
                                {4, 3, 2, 1},
                                {0xFF, 0xFF, 0xFF, 0xFF}});
    ASSERT_EQ(contentOf(gob), expected);
    ASSERT_EQ(gob.size(), 23u);

    Gob reading = readingCopy(gob);
    BleAddress read;
    uint32_t values[4] = {};
    ASSERT_EQ(codeGobConnect(reading, read, values[0], values[1], values[2], values[3]), 0);
    EXPECT_EQ(read, address);
    EXPECT_EQ(values[0], intervalMin);
    EXPECT_EQ(values[1], intervalMax);
    EXPECT_EQ(values[2], timeout);
    EXPECT_EQ(values[3], latency);
}

// The requests that carry an address, or an address and an index.
TEST(GobRequests, AddressAndIndexRequestsRoundTrip) {
    using AddressCodec = int (*)(Gob&, BleAddress&);
    using IndexCodec = int (*)(Gob&, BleAddress&, uint8_t&);
    const std::vector<std::pair<AddressCodec, uint8_t>> addressOnly{
        {codeGobFindServices, 3}, {codeGobDisconnect, 5}, {codeGobGetRssi, 11}};
    const std::vector<std::pair<IndexCodec, uint8_t>> withIndex{
        {codeGobRead, 6}, {codeGobNotify, 8}, {codeGobIndicate, 9}, {codeGobUnsubscribe, 10}};

    for (const auto& [codec, type] : addressOnly) {
        SCOPED_TRACE(type);
        BleAddress written = address;
        Gob gob;
        ASSERT_EQ(codec(gob, written), 0);
        EXPECT_EQ(contentOf(gob), join({{type}, addressBytes}));
        Gob reading = readingCopy(gob);
        BleAddress read;
        ASSERT_EQ(codec(reading, read), 0);
        EXPECT_EQ(read, address);
    }
    for (const auto& [codec, type] : withIndex) {
        SCOPED_TRACE(type);
        BleAddress written = address;
        uint8_t index = 0xC3;
        Gob gob;
        ASSERT_EQ(codec(gob, written, index), 0);
        EXPECT_EQ(contentOf(gob), join({{type}, addressBytes, {0xC3}}));
        Gob reading = readingCopy(gob);
        BleAddress read;
        uint8_t indexRead = 0;
        ASSERT_EQ(codec(reading, read, indexRead), 0);
        EXPECT_EQ(read, address);
        EXPECT_EQ(indexRead, 0xC3);
    }
}

TEST(GobRequests, TooShortOrForeignGobsFailToRead) {
    BleAddress read;
    uint8_t index = 0;
    uint32_t value = 0;
    std::vector<UuidRecord> uuids;
    bool withResponse = false;
    const uint8_t* payload = nullptr;
    uint32_t payloadLength = 0;
    // Each reader with the shortest gob it accepts.
    const std::vector<std::pair<std::function<int(Gob&)>, std::vector<uint8_t>>> readers{
        {[&](Gob& g) { return codeGobConnect(g, read, value, value, value, value); },
         join({{2}, addressBytes, std::vector<uint8_t>(16, 1)})},
        {[&](Gob& g) { return codeGobFindServices(g, read); }, join({{3}, addressBytes})},
        {[&](Gob& g) { return codeGobFindAttributes(g, read, uuids); },
         join({{4}, addressBytes, {0, 2, 0x18, 0x0D}})},
        {[&](Gob& g) { return codeGobDisconnect(g, read); }, join({{5}, addressBytes})},
        {[&](Gob& g) { return codeGobRead(g, read, index); }, join({{6}, addressBytes, {1}})},
        {[&](Gob& g) { return codeGobWrite(g, read, index, withResponse, payload, payloadLength); },
         join({{7}, addressBytes, {1, 0}})},
        {[&](Gob& g) { return codeGobNotify(g, read, index); }, join({{8}, addressBytes, {1}})},
        {[&](Gob& g) { return codeGobIndicate(g, read, index); }, join({{9}, addressBytes, {1}})},
        {[&](Gob& g) { return codeGobUnsubscribe(g, read, index); },
         join({{10}, addressBytes, {1}})},
        {[&](Gob& g) { return codeGobGetRssi(g, read); }, join({{11}, addressBytes})},
    };
    for (const auto& [reader, full] : readers) {
        SCOPED_TRACE(full[0]);
        Gob whole = readingCopy(full);
        EXPECT_EQ(reader(whole), 0);
        // Bytes after the fields are ignored (FindAttributes and Write take them).
        auto longer = full;
        longer.push_back(2);
        longer.push_back(0x2A);
        longer.push_back(0x19);
        Gob extended = readingCopy(longer);
        EXPECT_EQ(reader(extended), 0);
        for (size_t cut = 0; cut < full.size(); ++cut) {
            Gob shorter = readingCopy(std::vector<uint8_t>(full.begin(), full.begin() + cut));
            EXPECT_EQ(reader(shorter), -1) << "cut at " << cut;
        }
        auto foreign = full;
        foreign[0] = static_cast<uint8_t>(foreign[0] == 3 ? 5 : 3);
        Gob other = readingCopy(foreign);
        EXPECT_EQ(reader(other), -1);
    }
    // A 3-byte gob of type 6 is too short for GobRead.
    Gob threeBytes = readingCopy(std::vector<uint8_t>{0x06, 0x11, 0x22});
    EXPECT_EQ(codeGobRead(threeBytes, read, index), -1);
}

TEST(GobRequests, FindAttributesRoundTripWithTwoEntries) {
    const std::vector<uint8_t> longUuid{0xF0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 0x0F};
    BleAddress written = address;
    std::vector<UuidRecord> uuids{uuidOf({0x2A, 0x37}), uuidOf(longUuid)};
    Gob gob;
    ASSERT_EQ(codeGobFindAttributes(gob, written, uuids), 0);
    EXPECT_EQ(contentOf(gob), join({{4}, addressBytes, {0}, {2, 0x2A, 0x37}, {16}, longUuid}));

    // The skipped byte may hold anything.
    auto bytes = contentOf(gob);
    bytes[7] = 0xEE;
    Gob reading = readingCopy(bytes);
    BleAddress read;
    std::vector<UuidRecord> readUuids{uuidOf({1, 2})};
    ASSERT_EQ(codeGobFindAttributes(reading, read, readUuids), 0);
    EXPECT_EQ(read, address);
    ASSERT_EQ(readUuids.size(), 2u);
    EXPECT_EQ(readUuids[0], uuidOf({0x2A, 0x37}));
    EXPECT_EQ(readUuids[0].bytes[2], 0); // bytes beyond the length stay zero
    EXPECT_EQ(readUuids[1], uuidOf(longUuid));
}

TEST(GobRequests, FindAttributesRefusesBadEntries) {
    const auto head = join({{4}, addressBytes, {0}});
    const std::vector<std::vector<uint8_t>> bad{
        join({{4}, addressBytes}),                       // ends before the skipped byte
        head,                                            // no entry after the skipped byte
        join({head, {2, 0x18}}),                         // entry cut short
        join({head, {2, 0x18, 0x0D}, {16, 1, 2}}),       // second entry cut short
        join({head, {3, 1, 2, 3}}),                      // length neither 2 nor 16
        join({head, {17}, std::vector<uint8_t>(17, 9)}), // longer than a record
        join({head, {0}}),                               // empty entry
        join({head, {2, 0x18, 0x0D}, {0xFF}}),           // bad length after a good entry
    };
    for (const auto& bytes : bad) {
        SCOPED_TRACE(testing::PrintToString(bytes));
        Gob reading = readingCopy(bytes);
        BleAddress read;
        std::vector<UuidRecord> uuids;
        EXPECT_EQ(codeGobFindAttributes(reading, read, uuids), -1);
    }

    BleAddress written = address;
    std::vector<UuidRecord> none;
    Gob empty;
    EXPECT_EQ(codeGobFindAttributes(empty, written, none), -1);
    EXPECT_EQ(empty.size(), 0u);
    std::vector<UuidRecord> badLength{uuidOf({1, 2, 3, 4})};
    Gob bad4;
    EXPECT_EQ(codeGobFindAttributes(bad4, written, badLength), -1);
}

TEST(GobRequests, FindAttributesTakesAtMost256Entries) {
    auto entries = [](size_t count) {
        std::vector<uint8_t> bytes = join({{4}, addressBytes, {0}});
        for (size_t i = 0; i < count; ++i) {
            bytes.insert(bytes.end(), {2, static_cast<uint8_t>(i), 0x2A});
        }
        return bytes;
    };
    BleAddress read;
    std::vector<UuidRecord> uuids;
    Gob most = readingCopy(entries(256));
    ASSERT_EQ(codeGobFindAttributes(most, read, uuids), 0);
    EXPECT_EQ(uuids.size(), 256u);
    EXPECT_EQ(uuids.back(), uuidOf({0xFF, 0x2A}));
    Gob tooMany = readingCopy(entries(257));
    EXPECT_EQ(codeGobFindAttributes(tooMany, read, uuids), -1);

    BleAddress written = address;
    std::vector<UuidRecord> many(257, uuidOf({0x2A, 0x37}));
    Gob refused;
    EXPECT_EQ(codeGobFindAttributes(refused, written, many), -1);
    EXPECT_EQ(refused.size(), 0u);
}

TEST(GobRequests, WriteRoundTripWithPayloadView) {
    const std::vector<uint8_t> value{0xDE, 0xAD, 0xBE, 0xEF};
    BleAddress written = address;
    uint8_t index = 4;
    bool withResponse = true;
    const uint8_t* payload = value.data();
    auto payloadLength = static_cast<uint32_t>(value.size());
    Gob gob;
    ASSERT_EQ(codeGobWrite(gob, written, index, withResponse, payload, payloadLength), 0);
    EXPECT_EQ(contentOf(gob), join({{7}, addressBytes, {4, 1}, value}));

    Gob reading = readingCopy(gob);
    BleAddress read;
    uint8_t indexRead = 0;
    bool responseRead = false;
    const uint8_t* payloadRead = nullptr;
    uint32_t lengthRead = 0;
    ASSERT_EQ(codeGobWrite(reading, read, indexRead, responseRead, payloadRead, lengthRead), 0);
    EXPECT_EQ(read, address);
    EXPECT_EQ(indexRead, 4);
    EXPECT_TRUE(responseRead);
    EXPECT_EQ(payloadRead, reading.storage() + 9);
    EXPECT_EQ(std::vector<uint8_t>(payloadRead, payloadRead + lengthRead), value);

    // Exactly 9 bytes: an empty payload; any non-zero flag means with response.
    Gob nine = readingCopy(join({{7}, addressBytes, {4, 0x80}}));
    ASSERT_EQ(codeGobWrite(nine, read, indexRead, responseRead, payloadRead, lengthRead), 0);
    EXPECT_EQ(lengthRead, 0u);
    EXPECT_TRUE(responseRead);
    Gob without = readingCopy(join({{7}, addressBytes, {4, 0}}));
    ASSERT_EQ(codeGobWrite(without, read, indexRead, responseRead, payloadRead, lengthRead), 0);
    EXPECT_FALSE(responseRead);
}

} // namespace
