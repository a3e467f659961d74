// A Mux in the benchmark process, on a thread of its own, with a StubConduit behind it,
// and clients that connect to it over loopback TCP.
//
// Threads: MuxThread's constructor starts the mux thread and its destructor stops and
// joins it; the clients belong to the calling thread.
#pragma once

#include "gob/ble_types.h"
#include "gob_socket.h"
#include "mux/mux.h"
#include "stub_conduit.h"

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

// The device every benchmark client of the Mux connects.
constexpr BleAddress muxBenchDevice{{0x11, 0x22, 0x33, 0x44, 0x55, 0x66}};

// The Mux on its own thread, from construction to destruction.
class MuxThread {
public:
    MuxThread();
    ~MuxThread();
    MuxThread(const MuxThread&) = delete;
    MuxThread& operator=(const MuxThread&) = delete;

    Mux mux;

private:
    StubConduit conduit;
    std::atomic<bool> stop{false};
    std::thread thread;
};

// Opens `count` clients, each with its GobStatus taken and muxBenchDevice connected.
std::vector<std::unique_ptr<GobSocket>> connectedClients(int count);
