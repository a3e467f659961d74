// docs/protocol.md against the codec: every example on the page is a "frame:" line (the
// frame's bytes in hex) followed by a "fields:" line, and the frame must decode with the
// framing and gob codecs of this tree to exactly those fields. Every request and event
// type must have an example.
#include "gob/gob_events.h"
#include "gob/gob_framing.h"
#include "gob/gob_requests.h"
#include "linkrelay/address_text.h"
#include "linkrelay/bytes_text.h"
#include "linkrelay/uuid_text.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using linkrelay::formatAddress;
using linkrelay::formatHexBytes;
using linkrelay::formatUuid;
using linkrelay::parseHexBytes;

namespace {

struct Example {
    int line = 0;
    std::string frame;
    std::string fields;
};

std::vector<Example> examplesOf(const std::string& path) {
    std::ifstream page(path);
    std::vector<Example> examples;
    std::string text;
    int line = 0;
    while (std::getline(page, text)) {
        ++line;
        if (text.starts_with("frame: ")) {
            examples.push_back({line, text.substr(7), ""});
        } else if (text.starts_with("fields: ") && !examples.empty() &&
                   examples.back().line == line - 1) {
            examples.back().fields = text.substr(8);
        }
    }
    return examples;
}

std::string hexOf(const uint8_t* bytes, uint32_t count) {
    return formatHexBytes(std::span(bytes, count));
}

std::string signedText(uint8_t byte) {
    return std::to_string(static_cast<int8_t>(byte));
}

std::string addressText(const BleAddress& address) {
    return " address=" + formatAddress(address);
}

// The fields of a request, or "" when it does not decode.
std::string describeRequest(Gob& gob) {
    BleAddress address;
    uint8_t index = 0;
    const std::string indexText = " index=";
    switch (gob.storage()[0]) {
    case GobStartScan:
        return codeGobStartScan(gob) == 0 ? "StartScan" : "";
    case GobStopScan:
        return codeGobStopScan(gob) == 0 ? "StopScan" : "";
    case GobConnect: {
        uint32_t values[4] = {};
        if (codeGobConnect(gob, address, values[0], values[1], values[2], values[3]) != 0) {
            return "";
        }
        return "Connect" + addressText(address) + " interval_min=" + std::to_string(values[0]) +
               " interval_max=" + std::to_string(values[1]) +
               " supervision_timeout=" + std::to_string(values[2]) +
               " latency=" + std::to_string(values[3]);
    }
    case GobFindServices:
        return codeGobFindServices(gob, address) == 0 ? "FindServices" + addressText(address) : "";
    case GobFindAttributes: {
        std::vector<UuidRecord> uuids;
        if (codeGobFindAttributes(gob, address, uuids) != 0) {
            return "";
        }
        std::string list;
        for (const UuidRecord& uuid : uuids) {
            list += (list.empty() ? "" : ",") + formatUuid(uuid);
        }
        return "FindAttributes" + addressText(address) + " uuids=" + list;
    }
    case GobDisconnect:
        return codeGobDisconnect(gob, address) == 0 ? "Disconnect" + addressText(address) : "";
    case GobRead:
        return codeGobRead(gob, address, index) == 0
                   ? "Read" + addressText(address) + indexText + std::to_string(index)
                   : "";
    case GobWrite: {
        bool response = false;
        const uint8_t* payload = nullptr;
        uint32_t length = 0;
        if (codeGobWrite(gob, address, index, response, payload, length) != 0) {
            return "";
        }
        return "Write" + addressText(address) + indexText + std::to_string(index) +
               " response=" + (response ? "1" : "0") + " value=" + hexOf(payload, length);
    }
    case GobNotify:
        return codeGobNotify(gob, address, index) == 0
                   ? "Notify" + addressText(address) + indexText + std::to_string(index)
                   : "";
    case GobIndicate:
        return codeGobIndicate(gob, address, index) == 0
                   ? "Indicate" + addressText(address) + indexText + std::to_string(index)
                   : "";
    case GobUnsubscribe:
        return codeGobUnsubscribe(gob, address, index) == 0
                   ? "Unsubscribe" + addressText(address) + indexText + std::to_string(index)
                   : "";
    case GobGetRssi:
        return codeGobGetRssi(gob, address) == 0 ? "GetRssi" + addressText(address) : "";
    default:
        return "";
    }
}

// The fields of an event, or "" when it does not decode.
std::string describeEvent(Gob& gob) {
    BleAddress address;
    uint8_t byte = 0;
    UuidRecord uuid;
    GobByteField field;
    const std::string indexText = " index=";
    switch (gob.storage()[0]) {
    case GobStatus: {
        int32_t conduit = 0;
        int32_t state = 0;
        if (codeGobStatus(gob, conduit, state) != 0) {
            return "";
        }
        return "Status version=" + std::to_string(GOB_PROTOCOL_VERSION) +
               " conduit=" + std::to_string(conduit) + " state=" + std::to_string(state);
    }
    case GobScanResult:
        return codeGobScanResult(gob, address, field, byte) == 0
                   ? "ScanResult" + addressText(address) +
                         " data=" + hexOf(field.bytes.data(), field.length) +
                         " rssi=" + signedText(byte)
                   : "";
    case GobConnected:
        return codeGobConnected(gob, address) == 0 ? "Connected" + addressText(address) : "";
    case GobServiceFound:
        return codeGobServiceFound(gob, address, byte, uuid) == 0
                   ? "ServiceFound" + addressText(address) + indexText + std::to_string(byte) +
                         " uuid=" + formatUuid(uuid)
                   : "";
    case GobCharacteristicFound:
        return codeGobCharacteristicFound(gob, address, byte, uuid) == 0
                   ? "CharacteristicFound" + addressText(address) + indexText +
                         std::to_string(byte) + " uuid=" + formatUuid(uuid)
                   : "";
    case GobDisconnected:
        return codeGobDisconnected(gob, address, byte) == 0
                   ? "Disconnected" + addressText(address) + " reason=" + std::to_string(byte)
                   : "";
    case GobWriteDone:
        return codeGobWriteDone(gob, address) == 0 ? "WriteDone" + addressText(address) : "";
    case GobAttributeValue:
        return codeGobAttributeValue(gob, address, byte, field) == 0
                   ? "AttributeValue" + addressText(address) + indexText + std::to_string(byte) +
                         " value=" + hexOf(field.bytes.data(), field.length)
                   : "";
    case GobRssi:
        return codeGobRssi(gob, address, byte) == 0
                   ? "Rssi" + addressText(address) + " rssi=" + signedText(byte)
                   : "";
    default:
        return "";
    }
}

std::string withoutSpaces(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c != ' ') {
            out += c;
        }
    }
    return out;
}

} // namespace

TEST(ProtocolPage, EveryExampleDecodesToTheFieldsItNames) {
    const std::vector<Example> examples = examplesOf(LINKRELAY_PROTOCOL_PAGE);
    ASSERT_FALSE(examples.empty()) << "no examples read from " << LINKRELAY_PROTOCOL_PAGE;
    std::set<int> types;
    for (const Example& example : examples) {
        SCOPED_TRACE("docs/protocol.md line " + std::to_string(example.line));
        const auto bytes = parseHexBytes(withoutSpaces(example.frame));
        ASSERT_TRUE(bytes.has_value()) << example.frame;
        GobFrameParser parser;
        parser.feed(bytes->data(), bytes->size());
        Gob gob;
        ASSERT_EQ(parser.next(gob), GobFrameStatus::Gob) << "not one whole frame";
        Gob rest;
        EXPECT_EQ(parser.next(rest), GobFrameStatus::NeedMore) << "bytes after the frame";
        types.insert(gob.storage()[0]);
        const std::string fields =
            gob.storage()[0] < GobStatus ? describeRequest(gob) : describeEvent(gob);
        EXPECT_EQ(fields, example.fields);
        // The codec read every byte: receivers ignore bytes after a gob's fields, so an
        // example with extra bytes would otherwise decode to the same fields.
        EXPECT_TRUE(gob.atEnd()) << "bytes after the fields";
        // The prefix is the one this tree writes for the gob's length (receivers accept
        // other prefix forms; the examples show what senders write).
        uint8_t prefix[gobPrefixMaxSize];
        const uint32_t prefixSize = encodeGobPrefix(gob.size(), prefix);
        EXPECT_EQ(hexOf(prefix, prefixSize) + hexOf(gob.storage(), gob.size()),
                  withoutSpaces(example.frame));
    }
    std::set<int> expected;
    for (int type = GobStartScan; type <= GobGetRssi; ++type) {
        expected.insert(type);
    }
    for (int type = GobStatus; type <= GobRssi; ++type) {
        expected.insert(type);
    }
    EXPECT_EQ(types, expected) << "every type needs an example";
}
