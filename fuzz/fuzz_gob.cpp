// Fuzz target for received client bytes: arbitrary bytes, cut into arbitrary chunks,
// go through the frame parser, and every gob it yields goes through every request codec
// and every event codec (a client reads those).
//
// Input: two bytes that seed the chunking, then the stream. Beyond the sanitizers it
// checks that the chunking never changes the gobs or the malformed verdict, that a gob
// read by a codec is written back by the same codec to the bytes it was read from, and
// that a payload view lies inside its gob.
#include "gob/gob_events.h"
#include "gob/gob_framing.h"
#include "gob/gob_requests.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

struct Parsed {
    std::vector<Gob> gobs;
    GobFrameStatus last = GobFrameStatus::NeedMore;
};

void check(bool holds) {
    if (!holds) {
        __builtin_trap();
    }
}

void drain(GobFrameParser& parser, Parsed& parsed) {
    Gob gob;
    while ((parsed.last = parser.next(gob)) == GobFrameStatus::Gob) {
        parsed.gobs.push_back(gob);
    }
}

// Chunk sizes from 1 to 64 from a small xorshift generator.
Parsed parseInChunks(const uint8_t* bytes, size_t size, uint16_t seed) {
    uint32_t state = seed | 0x10000u;
    GobFrameParser parser;
    Parsed parsed;
    for (size_t at = 0; at < size;) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const size_t chunk = std::min<size_t>(1 + state % 64, size - at);
        parser.feed(bytes + at, chunk);
        drain(parser, parsed);
        at += chunk;
    }
    drain(parser, parsed);
    return parsed;
}

Parsed parseWhole(const uint8_t* bytes, size_t size) {
    GobFrameParser parser;
    Parsed parsed;
    parser.feed(bytes, size);
    drain(parser, parsed);
    return parsed;
}

bool sameContent(const Gob& a, const Gob& b) {
    return a.size() == b.size() && a.isBig() == b.isBig() &&
           std::equal(a.storage(), a.storage() + a.size(), b.storage());
}

// The bytes written back must be the leading bytes of the gob that was read, except a
// byte that the reader passes over unread.
void checkWrittenBack(const Gob& read, const Gob& written, int64_t unreadAt = -1) {
    check(written.size() <= read.size());
    for (uint32_t i = 0; i < written.size(); ++i) {
        check(static_cast<int64_t>(i) == unreadAt || written.storage()[i] == read.storage()[i]);
    }
}

void exerciseRequests(const Gob& received) {
    BleAddress address;
    uint8_t index = 0;
    uint32_t values[4] = {};
    {
        Gob gob = received;
        Gob out;
        if (codeGobStartScan(gob) == 0 && codeGobStartScan(out) == 0) {
            checkWrittenBack(received, out);
        }
    }
    {
        Gob gob = received;
        Gob out;
        if (codeGobStopScan(gob) == 0 && codeGobStopScan(out) == 0) {
            checkWrittenBack(received, out);
        }
    }
    {
        Gob gob = received;
        if (codeGobConnect(gob, address, values[0], values[1], values[2], values[3]) == 0) {
            Gob out;
            check(codeGobConnect(out, address, values[0], values[1], values[2], values[3]) == 0);
            checkWrittenBack(received, out);
        }
    }
    {
        Gob gob = received;
        std::vector<UuidRecord> uuids;
        if (codeGobFindAttributes(gob, address, uuids) == 0) {
            check(!uuids.empty());
            Gob out;
            check(codeGobFindAttributes(out, address, uuids) == 0);
            check(out.size() == received.size());
            checkWrittenBack(received, out, 7);
        }
    }
    {
        Gob gob = received;
        bool withResponse = false;
        const uint8_t* payload = nullptr;
        uint32_t payloadLength = 0;
        if (codeGobWrite(gob, address, index, withResponse, payload, payloadLength) == 0) {
            check(payload >= gob.storage() &&
                  payload + payloadLength == gob.storage() + gob.size());
            Gob out;
            check(codeGobWrite(out, address, index, withResponse, payload, payloadLength) == 0);
            check(out.size() == received.size());
        }
    }
    using AddressCodec = int (*)(Gob&, BleAddress&);
    for (AddressCodec codec : {codeGobFindServices, codeGobDisconnect, codeGobGetRssi}) {
        Gob gob = received;
        if (codec(gob, address) == 0) {
            Gob out;
            check(codec(out, address) == 0);
            checkWrittenBack(received, out);
        }
    }
    using IndexCodec = int (*)(Gob&, BleAddress&, uint8_t&);
    for (IndexCodec codec : {codeGobRead, codeGobNotify, codeGobIndicate, codeGobUnsubscribe}) {
        Gob gob = received;
        if (codec(gob, address, index) == 0) {
            Gob out;
            check(codec(out, address, index) == 0);
            checkWrittenBack(received, out);
        }
    }
}

void exerciseEvents(const Gob& received) {
    BleAddress address;
    uint8_t byte = 0;
    UuidRecord uuid;
    GobByteField field;
    {
        Gob gob = received;
        int32_t type = 0;
        int32_t state = 0;
        if (codeGobStatus(gob, type, state) == 0) {
            Gob out;
            check(buildStatusGob(out, static_cast<ConduitKind>(type),
                                 static_cast<ConduitState>(state)) == 0);
            checkWrittenBack(received, out);
        }
    }
    {
        Gob gob = received;
        if (codeGobScanResult(gob, address, field, byte) == 0) {
            Gob out;
            check(codeGobScanResult(out, address, field, byte) == 0);
            checkWrittenBack(received, out);
        }
    }
    using UuidCodec = int (*)(Gob&, BleAddress&, uint8_t&, UuidRecord&);
    for (UuidCodec codec : {codeGobServiceFound, codeGobCharacteristicFound}) {
        Gob gob = received;
        if (codec(gob, address, byte, uuid) == 0) {
            check(isValidUuidLength(uuid.length));
            Gob out;
            check(codec(out, address, byte, uuid) == 0);
            checkWrittenBack(received, out);
        }
    }
    {
        Gob gob = received;
        if (codeGobAttributeValue(gob, address, byte, field) == 0) {
            Gob out;
            check(codeGobAttributeValue(out, address, byte, field) == 0);
            checkWrittenBack(received, out);
        }
    }
    using AddressCodec = int (*)(Gob&, BleAddress&);
    for (AddressCodec codec : {codeGobConnected, codeGobWriteDone}) {
        Gob gob = received;
        if (codec(gob, address) == 0) {
            Gob out;
            check(codec(out, address) == 0);
            checkWrittenBack(received, out);
        }
    }
    using ByteCodec = int (*)(Gob&, BleAddress&, uint8_t&);
    for (ByteCodec codec : {codeGobDisconnected, codeGobRssi}) {
        Gob gob = received;
        if (codec(gob, address, byte) == 0) {
            Gob out;
            check(codec(out, address, byte) == 0);
            checkWrittenBack(received, out);
        }
    }
}

} // namespace

// The entry point that libFuzzer calls; its name is fixed by libFuzzer.
// NOLINTNEXTLINE(readability-identifier-naming)
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const auto seed = static_cast<uint16_t>(data[0] | (data[1] << 8));
    const uint8_t* stream = data + 2;
    const size_t streamSize = size - 2;

    const Parsed whole = parseWhole(stream, streamSize);
    const Parsed chunked = parseInChunks(stream, streamSize, seed);
    check(whole.last == chunked.last && whole.gobs.size() == chunked.gobs.size());
    for (size_t i = 0; i < whole.gobs.size(); ++i) {
        check(sameContent(whole.gobs[i], chunked.gobs[i]));
        exerciseRequests(whole.gobs[i]);
        exerciseEvents(whole.gobs[i]);
    }
    return 0;
}
