// The Gob buffer: the bytes of one client message while it is built or taken apart.
//
// A gob is either in writing mode, where every primitive appends a value, or in reading
// mode, where every primitive consumes the next value. Each message codec calls the same
// primitives in the same order for both directions, so a layout is written once.
// Content of up to 127 bytes lives inline; the 128th byte moves it to the heap, whose
// capacity then doubles as needed (254, 508, 1016, ...).
//
// Threads: a Gob belongs to one thread at a time and crosses threads only as a copy.
// Copying copies the content; each copy owns its own storage.
#pragma once

#include "gob/gob_protocol.h"

#include <cstdint>
#include <memory>

class Gob {
public:
    static constexpr uint32_t inlineCapacity = 127;

    // An empty gob in writing mode.
    Gob() = default;

    // A gob in reading mode, cursor 0, holding a copy of `length` bytes. With `big` set,
    // or when the bytes do not fit inline, they go to heap storage of exactly `length`
    // bytes and the gob is big; otherwise they are kept inline.
    static Gob forReading(const uint8_t* bytes, uint32_t length, bool big);

    Gob(const Gob& other);
    Gob& operator=(const Gob& other);
    // Moving leaves `other` an empty gob in writing mode.
    Gob(Gob&& other) noexcept;
    Gob& operator=(Gob&& other) noexcept;
    ~Gob() = default;

    // The content: size() bytes, beginning with the type byte.
    const uint8_t* storage() const { return heapBytes ? heapBytes.get() : inlineBytes; }
    uint32_t size() const { return length; }
    // True while the content lives in heap storage.
    bool isBig() const { return heapBytes != nullptr; }
    // Size of the heap storage; 0 while the content is inline.
    int32_t heapCapacity() const { return heapBytes ? capacity : 0; }
    bool isWriting() const { return writing; }
    // Reading mode: every byte has been consumed.
    bool atEnd() const { return cursor == length; }

    // Reading mode: passes over one byte without reading it (never past the end).
    // Writing mode: appends a zero byte, so that a reader has a byte to pass over.
    void skipByte();

    // Reading mode only: yields the unread bytes as a view into this gob's own storage,
    // valid as long as the gob lives, and moves the cursor to the end. Writing mode: -1.
    int takeRest(const uint8_t*& bytes, uint32_t& count);

    friend int codeU8(Gob& gob, uint8_t& byte);

private:
    uint8_t* mutableStorage() { return heapBytes ? heapBytes.get() : inlineBytes; }
    void appendByte(uint8_t byte);
    void copyFrom(const Gob& other);

    uint8_t inlineBytes[inlineCapacity + 1] = {};
    std::unique_ptr<uint8_t[]> heapBytes;
    uint32_t length = 0;
    int32_t capacity = 0; // size of heapBytes; meaningful only while it is set
    uint32_t cursor = 0;
    bool writing = true;
};

// The primitives. Each returns 0 on success and -1 on failure; in writing mode they
// append and cannot fail.

// Reading: fails at the end, leaving the cursor and `byte` unchanged.
int codeU8(Gob& gob, uint8_t& byte);

// Four bytes, least significant first. Reading: `value` starts at 0 and each byte read
// is added in; a missing byte fails the call with the bytes before it consumed.
int codeU32(Gob& gob, uint32_t& value);

// `count` bytes in order. Reading: fails at the first missing byte, with the bytes
// before it copied and consumed. A count of 0 succeeds at once.
int codeBytes(Gob& gob, uint8_t* bytes, uint32_t count);

// The leading type byte. Reading: fails when the byte is missing or differs from `type`.
int codeType(Gob& gob, GobType type);
