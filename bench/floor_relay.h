// The latency and throughput floor of the dongle path: the same bytes through a bare
// pseudo-terminal reader and a bare TCP loopback hop, with nothing of the service in
// between.
//
// The relay is this benchmark program started again as a child process
// (`--floor-relay LINK PORT CLIENTS`), as the service is a process of its own. It opens
// the pty's slave, connects CLIENTS times to PORT and then, in one poll loop, turns each
// attclient_attribute_value packet read from the pty into a GobAttributeValue frame
// written to every connection, and each GobRead frame read from a connection into an
// attclient_read_by_handle packet written to the pty.
//
// FloorRelay is the parent's side: the pty (master end, as the dongle holds it), the
// accepted connections as GobSockets, and the child.
//
// Threads: each object belongs to the thread that made it.
#pragma once

#include "gob_socket.h"
#include "sim/sim_pty.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// The child's side: runs until the pty hangs up or every connection has closed.
int runFloorRelay(const std::string& link, uint16_t port, int clients);

class FloorRelay {
public:
    FloorRelay(const std::string& folder, int clients);
    ~FloorRelay();
    FloorRelay(const FloorRelay&) = delete;
    FloorRelay& operator=(const FloorRelay&) = delete;

    bool ready() const { return up; }
    std::vector<std::unique_ptr<GobSocket>>& clients() { return sockets; }

    // Writes one attclient_attribute_value packet carrying `number`, as the dongle would.
    bool writeNotification(uint64_t number);
    // Waits for a read_by_handle packet on the pty; nowNs() when it arrived.
    std::optional<int64_t> awaitRead(std::chrono::milliseconds timeout);

private:
    sim::SimPty pty;
    std::vector<std::unique_ptr<GobSocket>> sockets;
    pid_t child = -1;
    bool up = false;
};

// The bytes of one attclient_attribute_value event for connection 0, handle 3,
// carrying `number` as its 8-byte value.
std::vector<uint8_t> notificationPacket(uint64_t number);
