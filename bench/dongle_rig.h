// DongleRig: the service program on the in-process simulated dongle (BenchDongle), up to
// "BG conduit: ready", and TCP clients that hold the dongle's sensor with its
// notifications on.
//
// Threads: each rig belongs to the thread that made it.
#pragma once

#include "bench_dongle.h"
#include "gob_socket.h"
#include "service_process.h"

#include <memory>
#include <string>
#include <vector>

class DongleRig {
public:
    // The dongle with `beacons` advertising beacons, then the service on its pty.
    explicit DongleRig(int beacons);
    DongleRig(const DongleRig&) = delete;
    DongleRig& operator=(const DongleRig&) = delete;

    bool ready() const { return failure.empty(); }
    const std::string& why() const { return failure; }

    // Opens `count` clients that all own the sensor's connection (each asked to connect
    // before it came up), the sensor's value subscribed by the first. Fills `index`
    // with the value's characteristic index. Empty on failure (`why` tells).
    std::vector<std::unique_ptr<GobSocket>> holders(int count, uint8_t& index);
    // Opens `count` clients, each with its GobStatus taken.
    std::vector<std::unique_ptr<GobSocket>> plainClients(int count);

    harness::TempDir folder;
    BenchDongle dongle;
    std::unique_ptr<ServiceProcess> service;
    uint16_t valueHandle = 0;
    int64_t readyAt = 0; // nowNs() when the service's ready line was first seen

private:
    std::string failure;
};

BleAddress sensorAddress();
