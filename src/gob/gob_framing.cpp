// Framing of gobs on a TCP stream.
#include "gob/gob_framing.h"

#include <algorithm>

namespace {

constexpr uint8_t extendedFlag = 0x80;
constexpr uint32_t oneByteFormMax = 126;
constexpr uint32_t extendedCountMax = 4;

uint32_t lengthByteCount(uint32_t length) {
    uint32_t count = 1;
    while (count < extendedCountMax && (length >> (8 * count)) != 0) {
        ++count;
    }
    return count;
}

} // namespace

uint32_t encodeGobPrefix(uint32_t length, uint8_t* prefix) {
    if (length <= oneByteFormMax) {
        prefix[0] = static_cast<uint8_t>(length);
        return 1;
    }
    const uint32_t count = lengthByteCount(length);
    prefix[0] = static_cast<uint8_t>(extendedFlag | count);
    for (uint32_t i = 0; i < count; ++i) {
        prefix[1 + i] = static_cast<uint8_t>(length >> (8 * i));
    }
    return 1 + count;
}

std::span<const uint8_t> GobFramer::frame(const Gob& gob) {
    const size_t needed = static_cast<size_t>(gob.size()) + 6;
    if (needed > scratch.size()) {
        scratch = std::vector<uint8_t>(std::max(2 * scratch.size(), needed));
    }
    const uint32_t prefixSize = encodeGobPrefix(gob.size(), scratch.data());
    std::copy_n(gob.storage(), gob.size(), scratch.data() + prefixSize);
    return {scratch.data(), prefixSize + gob.size()};
}

void GobFrameParser::feed(const uint8_t* bytes, size_t count) {
    if (malformed) {
        return;
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<ptrdiff_t>(start));
    start = 0;
    pending.insert(pending.end(), bytes, bytes + count);
}

GobFrameStatus GobFrameParser::next(Gob& gob) {
    if (malformed) {
        return GobFrameStatus::Malformed;
    }
    const size_t available = pending.size() - start;
    if (available == 0) {
        return GobFrameStatus::NeedMore;
    }
    const uint8_t* frame = pending.data() + start;
    const bool extended = (frame[0] & extendedFlag) != 0;
    size_t prefixSize = 1;
    uint32_t length = frame[0];
    if (extended) {
        const uint32_t count = frame[0] & 0x7Fu;
        if (count == 0 || count > extendedCountMax) {
            malformed = true;
            return GobFrameStatus::Malformed;
        }
        prefixSize += count;
        if (available < prefixSize) {
            return GobFrameStatus::NeedMore;
        }
        length = 0;
        for (uint32_t i = 0; i < count; ++i) {
            length |= static_cast<uint32_t>(frame[1 + i]) << (8 * i);
        }
    }
    if (length == 0 || length > gobFrameMaxLength) {
        malformed = true;
        return GobFrameStatus::Malformed;
    }
    if (available - prefixSize < length) {
        return GobFrameStatus::NeedMore;
    }
    gob = Gob::forReading(frame + prefixSize, length, extended);
    start += prefixSize + length;
    return GobFrameStatus::Gob;
}
