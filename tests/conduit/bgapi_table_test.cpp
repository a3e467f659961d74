// The message table: its agreement with bgapi_messages.tsv, its shape (counts, order, class
// indexes), the rows the service uses, and the lookup of received headers.
#include "conduit/bgapi/bgapi_table.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct ClassCounts {
    uint8_t commands;
    uint8_t events;
};

// Messages per class of the dongle's BGAPI: system, flash, attributes, connection,
// attclient, sm, gap, hardware, test, dfu.
constexpr ClassCounts classCounts[bgClassCount] = {{15, 7}, {8, 1},  {5, 3},  {9, 5}, {12, 7},
                                                   {7, 5},  {11, 2}, {14, 3}, {7, 0}, {4, 1}};

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream stream(line);
    std::string field;
    while (std::getline(stream, field, '\t')) {
        fields.push_back(field);
    }
    return fields;
}

std::string headerHex(const MessageDef& def) {
    char text[16];
    std::snprintf(text, sizeof text, "%02X %02X %02X %02X", def.header[0], def.header[1],
                  def.header[2], def.header[3]);
    return text;
}

uint32_t headerOf(uint8_t type, uint8_t length, uint8_t messageClass, uint8_t id) {
    const uint8_t bytes[4] = {type, length, messageClass, id};
    return bgHeaderWord(bytes);
}

TEST(BgapiTable, AgreesRowForRowWithTheMessageList) {
    std::ifstream tsv(LINKRELAY_BGAPI_TSV);
    ASSERT_TRUE(tsv.is_open()) << LINKRELAY_BGAPI_TSV;
    std::string line;
    std::getline(tsv, line); // column names
    size_t rows = 0;
    while (std::getline(tsv, line)) {
        const std::vector<std::string> fields = splitTabs(line);
        ASSERT_GE(fields.size(), 7U) << line;
        const size_t index = std::stoul(fields[0]);
        ASSERT_EQ(index, rows);
        ASSERT_LT(index, messageTable.size());
        const MessageDef& def = messageTable[index];
        EXPECT_EQ(def.name, fields[4]) << index;
        EXPECT_EQ(headerHex(def), fields[5]) << fields[4];
        EXPECT_EQ(def.params, std::stoul(fields[6], nullptr, 16)) << fields[4];
        EXPECT_EQ(def.header[2], std::stoul(fields[2])) << fields[4];
        EXPECT_EQ(def.header[3], std::stoul(fields[3])) << fields[4];
        EXPECT_EQ(def.header[0], fields[1] == "event" ? 0x80 : 0x00) << fields[4];
        EXPECT_EQ(bgIndex(def.message), index);
        ++rows;
    }
    EXPECT_EQ(rows, messageTable.size());
}

TEST(BgapiTable, HoldsCommandsThenResponsesThenEventsByClassAndId) {
    ASSERT_EQ(bgCommandCount, 92U);
    ASSERT_EQ(bgResponseCount, 92U);
    ASSERT_EQ(bgEventCount, 34U);
    ASSERT_EQ(messageTable.size(), 218U);
    size_t row = 0;
    for (const bool events : {false, true}) {
        for (size_t pass = 0; pass < (events ? 1U : 2U); ++pass) {
            for (uint8_t messageClass = 0; messageClass < bgClassCount; ++messageClass) {
                const ClassCounts counts = classCounts[messageClass];
                const uint8_t count = events ? counts.events : counts.commands;
                for (uint8_t id = 0; id < count; ++id, ++row) {
                    const MessageDef& def = messageTable[row];
                    EXPECT_EQ(def.header[0], events ? 0x80 : 0x00) << def.name;
                    EXPECT_EQ(def.header[2], messageClass) << def.name;
                    EXPECT_EQ(def.header[3], id) << def.name;
                }
            }
        }
    }
    EXPECT_EQ(row, messageTable.size());
}

TEST(BgapiTable, ResponsesMirrorTheCommands) {
    for (size_t i = 0; i < bgCommandCount; ++i) {
        const MessageDef& command = messageTable[i];
        const MessageDef& response = messageTable[bgFirstResponse + i];
        EXPECT_STREQ(command.name, response.name);
        EXPECT_EQ(command.header[2], response.header[2]);
        EXPECT_EQ(command.header[3], response.header[3]);
    }
}

TEST(BgapiTable, FirstCommandIndexOfEachClass) {
    const size_t expected[bgClassCount] = {0, 15, 23, 28, 37, 49, 56, 67, 81, 88};
    for (size_t messageClass = 0; messageClass < bgClassCount; ++messageClass) {
        const MessageDef& first = messageTable[expected[messageClass]];
        EXPECT_EQ(first.header[2], messageClass);
        EXPECT_EQ(first.header[3], 0);
    }
}

TEST(BgapiTable, FixedLengthIsTheSumOfTheParameterSizes) {
    for (const MessageDef& def : messageTable) {
        size_t sum = 0;
        size_t arrays = 0;
        for (uint32_t word = def.params; word != 0; word >>= 4) {
            EXPECT_EQ(arrays, 0U) << def.name << ": an array must be the last parameter";
            sum += bgParamSize(word & 0xFU);
            arrays += bgIsArray(word & 0xFU) ? 1 : 0;
        }
        EXPECT_EQ(def.fixedLength(), sum) << def.name;
        if (bgIndex(def.message) < bgCommandCount) {
            EXPECT_LE(def.fixedLength(), 15U) << def.name;
        }
    }
}

TEST(BgapiTable, RowsTheServiceSendsAndHandles) {
    struct Used {
        BgMessage message;
        const char* name;
        uint8_t fixedLength;
        uint32_t params;
    };
    const Used used[] = {
        {BgMessage::CmdSystemReset, "system_reset", 1, 0x2},
        {BgMessage::CmdSystemHello, "system_hello", 0, 0x0},
        {BgMessage::CmdConnectionDisconnect, "connection_disconnect", 1, 0x2},
        {BgMessage::CmdConnectionGetRssi, "connection_get_rssi", 1, 0x2},
        {BgMessage::CmdAttclientReadByGroupType, "attclient_read_by_group_type", 6, 0x8442},
        {BgMessage::CmdAttclientReadByType, "attclient_read_by_type", 6, 0x8442},
        {BgMessage::CmdAttclientReadByHandle, "attclient_read_by_handle", 3, 0x42},
        {BgMessage::CmdAttclientAttributeWrite, "attclient_attribute_write", 4, 0x842},
        {BgMessage::CmdAttclientWriteCommand, "attclient_write_command", 4, 0x842},
        {BgMessage::CmdAttclientPrepareWrite, "attclient_prepare_write", 6, 0x8442},
        {BgMessage::CmdAttclientExecuteWrite, "attclient_execute_write", 2, 0x22},
        {BgMessage::CmdGapDiscover, "gap_discover", 1, 0x2},
        {BgMessage::CmdGapConnectDirect, "gap_connect_direct", 15, 0x44442A},
        {BgMessage::CmdGapEndProcedure, "gap_end_procedure", 0, 0x0},
        {BgMessage::CmdGapSetScanParameters, "gap_set_scan_parameters", 5, 0x244},
        {BgMessage::RspSystemHello, "system_hello", 0, 0x0},
        {BgMessage::RspConnectionDisconnect, "connection_disconnect", 3, 0x42},
        {BgMessage::RspConnectionGetRssi, "connection_get_rssi", 2, 0x32},
        {BgMessage::RspAttclientWriteCommand, "attclient_write_command", 3, 0x42},
        {BgMessage::RspGapConnectDirect, "gap_connect_direct", 3, 0x24},
        {BgMessage::RspGapSetScanParameters, "gap_set_scan_parameters", 2, 0x4},
        {BgMessage::EvtConnectionStatus, "connection_status", 16, 0x24442A22},
        {BgMessage::EvtConnectionDisconnected, "connection_disconnected", 3, 0x42},
        {BgMessage::EvtAttclientProcedureCompleted, "attclient_procedure_completed", 5, 0x442},
        {BgMessage::EvtAttclientGroupFound, "attclient_group_found", 6, 0x8442},
        {BgMessage::EvtAttclientAttributeValue, "attclient_attribute_value", 5, 0x8242},
        {BgMessage::EvtGapScanResponse, "gap_scan_response", 11, 0x822A23},
    };
    const size_t commandIndexes[] = {0, 1, 28, 29, 38, 39, 41, 42, 43, 46, 47, 58, 59, 60, 63};
    for (size_t i = 0; i < std::size(commandIndexes); ++i) {
        EXPECT_EQ(bgIndex(used[i].message), commandIndexes[i]) << used[i].name;
    }
    for (const Used& row : used) {
        const MessageDef& def = bgMessage(row.message);
        EXPECT_STREQ(def.name, row.name);
        EXPECT_EQ(def.fixedLength(), row.fixedLength) << row.name;
        EXPECT_EQ(def.params, row.params) << row.name;
    }
}

TEST(BgapiLookup, ClassIndexesHaveTheClassCounts) {
    for (size_t messageClass = 0; messageClass < bgClassCount; ++messageClass) {
        EXPECT_EQ(responseClasses[messageClass].count, classCounts[messageClass].commands);
        EXPECT_EQ(eventClasses[messageClass].count, classCounts[messageClass].events);
    }
}

TEST(BgapiLookup, EveryResponseAndEventIsFoundByItsOwnHeader) {
    for (size_t i = bgFirstResponse; i < bgMessageCount; ++i) {
        const MessageDef& def = messageTable[i];
        EXPECT_EQ(findMessage(bgHeaderWord(def.header.data())), &def) << def.name;
    }
}

TEST(BgapiLookup, EdgesOfTheKnownIds) {
    const MessageDef* lastSystemResponse = findMessage(headerOf(0x00, 2, 0, 14));
    ASSERT_NE(lastSystemResponse, nullptr);
    EXPECT_STREQ(lastSystemResponse->name, "system_endpoint_set_watermarks");
    EXPECT_EQ(findMessage(headerOf(0x00, 2, 0, 15)), nullptr);

    const MessageDef* disconnected = findMessage(headerOf(0x80, 3, 3, 4));
    ASSERT_NE(disconnected, nullptr);
    EXPECT_EQ(disconnected->message, BgMessage::EvtConnectionDisconnected);
    EXPECT_EQ(findMessage(headerOf(0x80, 3, 3, 5)), nullptr);

    for (const uint8_t id : {0, 1, 6, 255}) {
        EXPECT_EQ(findMessage(headerOf(0x80, 0, 8, id)), nullptr) << "test event " << int(id);
    }
    EXPECT_NE(findMessage(headerOf(0x00, 0, 8, 6)), nullptr);

    EXPECT_EQ(findMessage(headerOf(0x00, 0, 10, 0)), nullptr);
    EXPECT_EQ(findMessage(headerOf(0x80, 0, 10, 0)), nullptr);
    EXPECT_EQ(findMessage(headerOf(0x00, 0, 255, 0)), nullptr);
}

TEST(BgapiLookup, IgnoresTechnologyBitsAndLength) {
    // Technology bits 6..3 set, high length bits set, a length byte that does not match.
    const MessageDef* found = findMessage(headerOf(0x80 | 0x78 | 0x07, 0xFF, 6, 0));
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->message, BgMessage::EvtGapScanResponse);
    const MessageDef* response = findMessage(headerOf(0x7F, 0x00, 6, 7));
    ASSERT_NE(response, nullptr);
    EXPECT_EQ(response->message, BgMessage::RspGapSetScanParameters);
}

TEST(BgapiLookup, PayloadLengthHasElevenBits) {
    const uint8_t header[4] = {0x80 | 0x78 | 0x05, 0x34, 4, 5};
    EXPECT_EQ(bgPayloadLength(header), 0x534U);
    EXPECT_EQ(bgHeaderWord(header), 0x05043400U | (0x80U | 0x78U | 0x05U));
}

} // namespace
