// GobSocket: a bare TCP client of the service, lighter than the client library so that
// one benchmark thread can drive a thousand of them, and free to send the bytes the
// library never would (for the tests): a non-blocking socket to 127.0.0.1, a frame
// parser, and the request and event codecs of src/gob.
//
// Threads: each GobSocket belongs to one thread at a time; nothing here locks.
#pragma once

#include "gob/ble_types.h"
#include "gob/gob.h"
#include "gob/gob_framing.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

class GobSocket {
public:
    GobSocket() = default;
    ~GobSocket();
    GobSocket(const GobSocket&) = delete;
    GobSocket& operator=(const GobSocket&) = delete;

    // Starts a non-blocking connect to 127.0.0.1:port. False when no socket could be made.
    // A `receiveBuffer` above 0 is set on the socket before it connects.
    bool begin(uint16_t port, int receiveBuffer = 0);
    // Connects and waits until the connection is up, retrying for up to `timeout`.
    bool open(uint16_t port, std::chrono::milliseconds timeout, int receiveBuffer = 0);
    void close();
    int fd() const { return socketFd; }

    // Frames and sends one gob, waiting while the socket is full. False on failure.
    bool send(const Gob& gob);
    // Sends `bytes` as they are (a frame, part of one, or anything else).
    bool sendBytes(std::span<const uint8_t> bytes);
    // Frames `content` as one gob, whatever it holds, and sends it.
    bool sendContent(std::span<const uint8_t> content);
    bool sendConnect(const BleAddress& address);
    bool sendStartScan();
    bool sendRead(const BleAddress& address, uint8_t index);
    bool sendFindAttributes(const BleAddress& address, const UuidRecord& uuid);
    bool sendNotify(const BleAddress& address, uint8_t index);
    // Takes over a connected socket (made non-blocking here).
    void adopt(int fd);

    // Reads what has arrived without waiting. False once the peer has closed or failed.
    bool pump();
    // The peer has closed the connection (or it failed): seen by pump.
    bool closed() const { return peerClosed; }
    // The next complete gob received, if any.
    std::optional<Gob> next();
    // Waits up to `timeout` for the next gob.
    std::optional<Gob> waitGob(std::chrono::milliseconds timeout);
    // Waits up to `timeout` for the next gob of this type, passing over others.
    std::optional<Gob> waitType(uint8_t type, std::chrono::milliseconds timeout);
    // Reads and drops what arrives until the peer closes (true) or `timeout` passes.
    bool waitClosed(std::chrono::milliseconds timeout);

private:
    int socketFd = -1;
    bool peerClosed = false;
    GobFramer framer;
    GobFrameParser parser;
    std::vector<uint8_t> chunk = std::vector<uint8_t>(65536);
};

// The first byte of a gob: its type; 255 for an empty gob.
uint8_t gobType(const Gob& gob);

// Reads the 8-byte little-endian number that the benchmarks put at the start of an
// attribute value or scan-result payload; nothing when the gob carries none.
std::optional<uint64_t> payloadNumber(const Gob& gob);
