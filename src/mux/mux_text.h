// Small text helpers of the Mux: filling its message buffer and naming a stream in the
// log. Pure functions; any thread.
#pragma once

#include "mux/mux.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>

// The format of a stream's identity in the log: its address in full hexadecimal.
#define MUX_STREAM_ID "%" PRIxPTR

// The number printed for a stream with MUX_STREAM_ID.
inline std::uintptr_t streamId(const Stream* stream) {
    return reinterpret_cast<std::uintptr_t>(stream);
}

// Puts `text` into `message`, cut at 255 characters.
inline void setMessage(MuxMessage& message, const char* text) {
    std::snprintf(message.data(), message.size(), "%s", text);
}
