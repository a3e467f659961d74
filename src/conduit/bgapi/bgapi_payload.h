// The fit of a received payload to its message row, so that handlers never read past the
// bytes that arrived.
//
// Threads: a pure function; any thread.
#pragma once

#include "conduit/bgapi/bgapi_table.h"

#include <cstddef>
#include <cstdint>

enum class BgPayloadFit {
    Whole,            // the fixed part and all of a trailing array are present
    FixedPartMissing, // fewer bytes than the message's fixed part
    ArrayPastEnd      // the array's length field runs past the received bytes
};

// Checks `length` received bytes at `payload` against `def`. Bytes beyond the message's
// end are allowed.
BgPayloadFit checkPayload(const MessageDef& def, const uint8_t* payload, size_t length);
