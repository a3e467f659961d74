// The simulator's message table and codec against a reference reading of messages.tsv.
#include "bgapi_reference.h"

#include "sim/bgapi_packet.h"
#include "sim/command_parser.h"
#include "sim/message_table.h"

#include <gtest/gtest.h>

namespace {

using simtest::Bytes;
using simtest::Field;

const char* kindName(sim::MessageKind kind) {
    switch (kind) {
    case sim::MessageKind::Command:
        return "command";
    case sim::MessageKind::Response:
        return "response";
    case sim::MessageKind::Event:
        return "event";
    }
    return "";
}

TEST(MessageTable, HoldsEveryRowOfTheFileWithItsLayout) {
    const auto& reference = simtest::rows();
    const auto& table = sim::messageTable().rows();
    ASSERT_EQ(table.size(), 218u);
    ASSERT_EQ(reference.size(), table.size());
    for (size_t i = 0; i < table.size(); ++i) {
        SCOPED_TRACE(reference[i].name);
        EXPECT_EQ(kindName(table[i].kind), reference[i].kind);
        EXPECT_EQ(table[i].classId, reference[i].classId);
        EXPECT_EQ(table[i].id, reference[i].id);
        EXPECT_EQ(table[i].name, reference[i].name);
        EXPECT_EQ(table[i].fixedLength, reference[i].header[1]);
        ASSERT_EQ(table[i].params.size(), reference[i].params.size());
        int fixed = 0;
        for (const auto& param : table[i].params) {
            fixed += sim::fixedSize(param.type);
        }
        EXPECT_EQ(fixed, table[i].fixedLength);
    }
}

TEST(MessageTable, CountsMessagesPerClassAsTheModuleDoes) {
    const int commands[10] = {15, 8, 5, 9, 12, 7, 11, 14, 7, 4};
    const int events[10] = {7, 1, 3, 5, 7, 5, 2, 3, 0, 1};
    for (int classId = 0; classId < 10; ++classId) {
        int commandCount = 0;
        int eventCount = 0;
        for (const auto& row : sim::messageTable().rows()) {
            commandCount += row.classId == classId && row.kind == sim::MessageKind::Command;
            eventCount += row.classId == classId && row.kind == sim::MessageKind::Event;
        }
        EXPECT_EQ(commandCount, commands[classId]) << "class " << classId;
        EXPECT_EQ(eventCount, events[classId]) << "class " << classId;
    }
    EXPECT_EQ(sim::messageTable().find(sim::MessageKind::Event, 8, 0), nullptr);
    EXPECT_NE(sim::messageTable().find(sim::MessageKind::Response, 0, 14), nullptr);
    EXPECT_EQ(sim::messageTable().find(sim::MessageKind::Response, 0, 15), nullptr);
}

TEST(BgapiPacket, CommandsPackedFromTheFileParseBackToTheSameFields) {
    for (const auto& row : simtest::rows()) {
        if (row.kind != "command") {
            continue;
        }
        SCOPED_TRACE(row.name);
        const auto fields = simtest::sampleFields(row);
        const Bytes packet = simtest::command(row.name, fields);
        const auto decoded = sim::decodePacket(sim::MessageKind::Command, packet);
        ASSERT_EQ(decoded.status, sim::DecodeStatus::Ok);
        EXPECT_EQ(decoded.message.row->name, row.name);
        for (size_t i = 0; i < fields.size(); ++i) {
            if (const auto* bytes = std::get_if<Bytes>(&fields[i])) {
                EXPECT_EQ(decoded.message.bytes(row.params[i].first), *bytes);
            } else {
                EXPECT_EQ(decoded.message.number(row.params[i].first),
                          std::get<long long>(fields[i]));
            }
        }
    }
}

TEST(BgapiPacket, EveryResponseAndEventEncodesToItsRow) {
    for (const auto& row : sim::messageTable().rows()) {
        if (row.kind == sim::MessageKind::Command) {
            continue;
        }
        SCOPED_TRACE(row.name);
        std::vector<sim::Value> values;
        for (const auto& param : row.params) {
            if (param.type == sim::ParamType::Address) {
                values.emplace_back(sim::Bytes{6, 5, 4, 3, 2, 1});
            } else if (sim::isArray(param.type)) {
                values.emplace_back(sim::Bytes{9, 8, 7, 6, 5});
            } else {
                values.emplace_back(int64_t{-2});
            }
        }
        const auto parsed = simtest::parse(sim::encodePacket(row, values));
        EXPECT_EQ(parsed.error, "");
        ASSERT_NE(parsed.row, nullptr);
        EXPECT_EQ(parsed.row->name, row.name);
    }
}

TEST(BgapiPacket, RefusesValuesThatDoNotFitTheRow) {
    const auto& row = sim::messageTable().byName(sim::MessageKind::Event, "gap_scan_response");
    std::vector<sim::Value> values = {int64_t{-50}, int64_t{0},   sim::Bytes{1, 2, 3},
                                      int64_t{0},   int64_t{255}, sim::Bytes{}};
    EXPECT_THROW(sim::encodePacket(row, values), std::logic_error); // 3-byte address
    values[2] = sim::Bytes{1, 2, 3, 4, 5, 6};
    values.pop_back();
    EXPECT_THROW(sim::encodePacket(row, values), std::logic_error); // a value missing
    values.emplace_back(sim::Bytes(300, 0));
    EXPECT_THROW(sim::encodePacket(row, values), std::logic_error); // array too long
}

TEST(BgapiPacket, TellsUnknownAndMisshapenCommandsApart) {
    const Bytes unknown = {0x00, 0x00, 0x0A, 0x00};
    EXPECT_EQ(sim::decodePacket(sim::MessageKind::Command, unknown).status,
              sim::DecodeStatus::Unknown);
    const Bytes pastClass = {0x00, 0x00, 0x00, 0x0F};
    EXPECT_EQ(sim::decodePacket(sim::MessageKind::Command, pastClass).status,
              sim::DecodeStatus::Unknown);
    // connection_get_rssi without its connection byte.
    const Bytes shortRssi = {0x00, 0x00, 0x03, 0x01};
    EXPECT_EQ(sim::decodePacket(sim::MessageKind::Command, shortRssi).status,
              sim::DecodeStatus::BadLength);
    // attclient_write_command announcing 3 data bytes but carrying 2.
    const Bytes shortData = {0x00, 0x06, 0x04, 0x06, 0x00, 0x25, 0x00, 0x03, 0x01, 0x00};
    EXPECT_EQ(sim::decodePacket(sim::MessageKind::Command, shortData).status,
              sim::DecodeStatus::BadLength);
}

TEST(CommandParser, CutsAStreamIntoCommandsAndSkipsBytesThatCannotStartOne) {
    using std::chrono::milliseconds;
    sim::CommandParser parser;
    const Bytes write = {0x00, 0x06, 0x04, 0x06, 0x00, 0x25, 0x00, 0x02, 0x01, 0x00};
    parser.push(Bytes{0xFF, 0x81}, milliseconds(0));
    parser.push(Bytes(write.begin(), write.begin() + 5), milliseconds(0));
    EXPECT_FALSE(parser.next());
    EXPECT_TRUE(parser.pending());
    parser.push(Bytes(write.begin() + 5, write.end()), milliseconds(50));
    parser.push(Bytes{0x00, 0x00, 0x00, 0x01}, milliseconds(50));
    EXPECT_EQ(parser.next()->bytes, write);
    const auto hello = parser.next();
    EXPECT_EQ(hello->bytes, (Bytes{0x00, 0x00, 0x00, 0x01}));
    EXPECT_EQ(hello->rejection, 0);
    EXPECT_FALSE(parser.next());
    EXPECT_EQ(parser.skippedBytes(), 2u);

    // A rejected header costs one byte; a partial command expires after its bound.
    parser.push(Bytes{0x00, 0x00, 0x0A, 0x00}, milliseconds(100));
    const auto rejected = parser.next();
    EXPECT_EQ(rejected->bytes, (Bytes{0x00, 0x00, 0x0A, 0x00}));
    EXPECT_EQ(rejected->rejection, 0x0184);
    EXPECT_FALSE(parser.next());
    EXPECT_FALSE(parser.expire(milliseconds(200)));
    EXPECT_TRUE(parser.expire(milliseconds(201)));
    EXPECT_FALSE(parser.pending());
    EXPECT_EQ(parser.skippedBytes(), 6u);
}

} // namespace
