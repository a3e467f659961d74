// Framing of gobs on a TCP stream: a length prefix, then the gob's bytes.
//
// Prefix: one byte 0x00..0x7F holding the length, or 0x80 + n (n = 1 to 4) followed by
// the length in n bytes, least significant first. Senders use the one-byte form for 0 to
// 126 bytes and the extended form, with the fewest bytes, for 127 and more; receivers
// accept either form for any length.
//
// Threads: a GobFramer and a GobFrameParser each belong to one thread (the mux thread
// keeps one parser per client stream); the free function is pure.
#pragma once

#include "gob/gob.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// The longest gob that a receiver accepts.
constexpr uint32_t gobFrameMaxLength = 65536;
// The longest prefix.
constexpr uint32_t gobPrefixMaxSize = 5;

// Writes the prefix for a gob of `length` bytes into `prefix` (room for gobPrefixMaxSize
// bytes) and returns the number of bytes written.
uint32_t encodeGobPrefix(uint32_t length, uint8_t* prefix);

// Assembles frames for sending in one scratch buffer that it keeps and reuses.
class GobFramer {
public:
    // The prefix and the content of `gob` as one run of bytes, valid until the next call.
    std::span<const uint8_t> frame(const Gob& gob);

private:
    std::vector<uint8_t> scratch = std::vector<uint8_t>(256);
};

enum class GobFrameStatus {
    Gob,       // a complete gob was taken out
    NeedMore,  // the bytes so far end inside a frame, or there are none
    Malformed, // an empty frame, a frame above gobFrameMaxLength, or a bad prefix
};

// Cuts the bytes received on one stream into gobs. A frame may arrive in any number of
// chunks; the part received so far is kept until the rest arrives.
class GobFrameParser {
public:
    // Adds the bytes of one received chunk after those not yet taken out.
    void feed(const uint8_t* bytes, size_t count);

    // Takes the next complete gob out into `gob`, in reading mode with its cursor at 0:
    // a gob sent with the one-byte prefix is kept inline, one sent with the extended
    // prefix is a big gob of exactly its length. Malformed input is reported as soon as
    // its prefix is complete, and from then on by every call: nothing after it can be
    // trusted to begin a frame.
    GobFrameStatus next(Gob& gob);

    // Whether bytes are held that are not taken out yet: after next() has returned
    // NeedMore, the beginning of a frame still incomplete.
    bool holdsPartialFrame() const { return pending.size() > start; }

private:
    std::vector<uint8_t> pending; // received bytes; those before `start` are taken out
    size_t start = 0;
    bool malformed = false;
};
