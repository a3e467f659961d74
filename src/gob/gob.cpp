// The Gob buffer and its primitives.
#include "gob/gob.h"

#include <algorithm>

Gob Gob::forReading(const uint8_t* bytes, uint32_t length, bool big) {
    Gob gob;
    gob.writing = false;
    gob.length = length;
    if (big || length > inlineCapacity) {
        gob.heapBytes = std::make_unique<uint8_t[]>(length);
        gob.capacity = static_cast<int32_t>(length);
    }
    std::copy_n(bytes, length, gob.mutableStorage());
    return gob;
}

Gob::Gob(const Gob& other) {
    copyFrom(other);
}

Gob& Gob::operator=(const Gob& other) {
    if (this != &other) {
        copyFrom(other);
    }
    return *this;
}

Gob::Gob(Gob&& other) noexcept {
    *this = std::move(other);
}

Gob& Gob::operator=(Gob&& other) noexcept {
    if (this != &other) {
        std::copy_n(other.inlineBytes, sizeof inlineBytes, inlineBytes);
        heapBytes = std::move(other.heapBytes);
        length = other.length;
        capacity = other.capacity;
        cursor = other.cursor;
        writing = other.writing;
        other.length = 0;
        other.capacity = 0;
        other.cursor = 0;
        other.writing = true;
    }
    return *this;
}

void Gob::copyFrom(const Gob& other) {
    heapBytes.reset();
    if (other.heapBytes) {
        heapBytes = std::make_unique<uint8_t[]>(static_cast<size_t>(other.capacity));
    }
    std::copy_n(other.storage(), other.length, mutableStorage());
    length = other.length;
    capacity = other.capacity;
    cursor = other.cursor;
    writing = other.writing;
}

void Gob::appendByte(uint8_t byte) {
    if (heapBytes) {
        if (static_cast<uint32_t>(capacity) == length) {
            const auto grown = static_cast<size_t>(capacity) * 2;
            auto bigger = std::make_unique<uint8_t[]>(grown);
            std::copy_n(heapBytes.get(), length, bigger.get());
            heapBytes = std::move(bigger);
            capacity = static_cast<int32_t>(grown);
        }
    } else if (length == inlineCapacity) {
        heapBytes = std::make_unique<uint8_t[]>(size_t{2} * inlineCapacity);
        capacity = 2 * inlineCapacity;
        std::copy_n(inlineBytes, inlineCapacity, heapBytes.get());
    }
    mutableStorage()[length] = byte;
    ++length;
}

void Gob::skipByte() {
    if (writing) {
        appendByte(0);
    } else if (cursor < length) {
        ++cursor;
    }
}

int Gob::takeRest(const uint8_t*& bytes, uint32_t& count) {
    if (writing) {
        return -1;
    }
    bytes = storage() + cursor;
    count = length - cursor;
    cursor = length;
    return 0;
}

int codeU8(Gob& gob, uint8_t& byte) {
    if (gob.writing) {
        gob.appendByte(byte);
        return 0;
    }
    if (gob.cursor >= gob.length) {
        return -1;
    }
    byte = gob.storage()[gob.cursor];
    ++gob.cursor;
    return 0;
}

int codeU32(Gob& gob, uint32_t& value) {
    if (gob.isWriting()) {
        for (int shift = 0; shift < 32; shift += 8) {
            auto byte = static_cast<uint8_t>(value >> shift);
            codeU8(gob, byte);
        }
        return 0;
    }
    value = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        uint8_t byte = 0;
        if (codeU8(gob, byte) != 0) {
            return -1;
        }
        value |= static_cast<uint32_t>(byte) << shift;
    }
    return 0;
}

int codeBytes(Gob& gob, uint8_t* bytes, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        if (codeU8(gob, bytes[i]) != 0) {
            return -1;
        }
    }
    return 0;
}

int codeType(Gob& gob, GobType type) {
    uint8_t byte = type;
    if (codeU8(gob, byte) != 0) {
        return -1;
    }
    return byte == type ? 0 : -1;
}
