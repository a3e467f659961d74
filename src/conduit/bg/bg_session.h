// The records of the dongle conduit: BgSession, the state of one live device connection,
// of the attribute procedure running on it and of the requests waiting for it, and
// WriteChunk, one write command waiting on the process-wide write queue.
//
// Threads: plain values. ConduitBg keeps them under its conduit lock; nothing here locks.
#pragma once

#include "gob/ble_types.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <vector>

// The procedure in progress on a connection; only one runs at a time.
enum class SessionState : int32_t {
    Idle = 0,
    FindingServices = 1,   // waits for the end of primary service discovery
    FindingChars = 2,      // waits for the end of each look-up by UUID
    Writing = 3,           // waits for the end of an attribute write of up to 20 bytes
    LongWriting = 4,       // waits for the end of each prepared-write piece
    Executing = 5,         // waits for the end of the execute write
    WritingNoResponse = 6, // waits for the response to each write-command piece
};

// Characteristic and service indexes are one byte: at most this many per connection.
constexpr size_t maxIndexesPerSession = 256;

// The most requests that may wait for one busy device; beyond, a request is refused.
constexpr size_t maxWaitingPerDevice = 32;

// A procedure request that found its device busy: it waits, in arrival order, until the
// session is Idle again, and then starts as if it had just arrived.
struct WaitingRequest {
    enum class Kind { FindServices, FindAttributes, Write };

    Kind kind = Kind::FindServices;
    uint64_t requester = 0;        // the client it is for (Conduit::requester)
    std::vector<UuidRecord> uuids; // FindAttributes
    uint8_t index = 0;             // Write: the characteristic index
    std::vector<uint8_t> data;     // Write: the value
    bool withResponse = false;     // Write
};

struct BgSession {
    BleAddress address;                                // the device
    SessionState state = SessionState::Idle;           // the procedure in progress
    std::map<int32_t, int32_t> serviceIndexByHandle;   // service start handle -> index
    std::map<int32_t, UuidRecord> serviceUuidByHandle; // service start handle -> UUID
    std::vector<UuidRecord> pendingUuids;              // still to look up; taken from the back
    std::vector<int32_t> foundHandles;                 // value handles found by this look-up
    std::map<int32_t, int32_t> charIndexByHandle;      // value handle -> characteristic index
    std::map<uint8_t, int32_t> charHandleByIndex;      // characteristic index -> value handle
    std::map<int32_t, UuidRecord> charUuidByHandle;    // value handle -> UUID it was found by
    std::vector<uint8_t> writeBuffer;   // the whole value of a long or unacknowledged write
    uint32_t writeOffset = 0;           // bytes of writeBuffer handed to the dongle
    std::deque<WaitingRequest> waiting; // at most maxWaitingPerDevice, oldest first

    // Returns to Idle and forgets the procedure's progress (not the services and
    // characteristics known on the connection, nor the waiting requests).
    void becomeIdle();
    std::optional<int32_t> charHandle(uint8_t index) const;
    std::optional<uint8_t> charIndex(int32_t handle) const;
    // Bytes of writeBuffer not yet handed to the dongle.
    uint32_t writeBytesLeft() const;
};

// What a write command on the queue belongs to.
enum class WriteChunkKind {
    Chain,        // a piece of its session's unacknowledged write
    Subscription, // a client characteristic configuration write (notify, indicate, unsubscribe)
};

// The most data one write command carries.
constexpr uint32_t maxWriteChunk = 20;

struct WriteChunk {
    int32_t connection = 0;                    // connection handle
    int32_t handle = 0;                        // attribute handle
    int32_t length = 0;                        // data bytes, 0 to maxWriteChunk
    std::array<uint8_t, maxWriteChunk> data{}; // the bytes to write
    WriteChunkKind kind = WriteChunkKind::Chain;
};
