// The service on the simulated dongle, with clients. See dongle_rig.h.
#include "dongle_rig.h"

#include "linkrelay/address_text.h"
#include "linkrelay/uuid_text.h"

#include <thread>

using linkrelay::parseAddress;
using linkrelay::parseUuid;

namespace {

using namespace std::chrono_literals;

bool setSensorInRange(BenchDongle& dongle, bool inRange) {
    return dongle.call([inRange](sim::SimDevice& device, sim::SimTime now) {
        return device.setInRange(*sim::parseAddress(benchSensorAddress), inRange, now);
    });
}

} // namespace

BleAddress sensorAddress() {
    return parseAddress(benchSensorAddress).value_or(BleAddress{});
}

DongleRig::DongleRig(int beacons) : dongle(folder.file("dongle.tty"), benchPeripherals(beacons)) {
    if (!dongle.start(failure)) {
        return;
    }
    valueHandle = dongle.sensorValueHandle();
    if (!waitPortFree(120s)) {
        failure = "port 9089 stayed taken";
        return;
    }
    service = std::make_unique<ServiceProcess>(
        LINKRELAY_BINARY, std::vector<std::string>{"--port", folder.file("dongle.tty")},
        folder.file("stderr"), folder.file("logs"));
    const std::optional<int64_t> seen =
        service->started() ? service->waitLine("BG conduit: ready", 30s) : std::nullopt;
    if (!seen) {
        failure = "the service did not report \"BG conduit: ready\"";
        return;
    }
    readyAt = *seen;
}

std::vector<std::unique_ptr<GobSocket>> DongleRig::plainClients(int count) {
    std::vector<std::unique_ptr<GobSocket>> sockets;
    for (int i = 0; i < count; ++i) {
        auto socket = std::make_unique<GobSocket>();
        if (!socket->open(9089, 10s) || !socket->waitType(GobStatus, 5s)) {
            failure = "a client got no GobStatus";
            return {};
        }
        sockets.push_back(std::move(socket));
    }
    return sockets;
}

std::vector<std::unique_ptr<GobSocket>> DongleRig::holders(int count, uint8_t& index) {
    // Out of range, the sensor keeps the first connect pending until every client asked.
    setSensorInRange(dongle, false);
    std::vector<std::unique_ptr<GobSocket>> sockets = plainClients(count);
    for (auto& socket : sockets) {
        socket->sendConnect(sensorAddress());
    }
    std::this_thread::sleep_for(300ms);
    setSensorInRange(dongle, true);
    for (auto& socket : sockets) {
        if (!socket->waitType(GobConnected, 10s)) {
            failure = "a client got no GobConnected";
            return {};
        }
    }
    if (sockets.empty()) {
        return {};
    }
    GobSocket& first = *sockets.front();
    first.sendFindAttributes(sensorAddress(), parseUuid("FFF1").value_or(UuidRecord{}));
    const std::optional<Gob> found = first.waitType(GobCharacteristicFound, 10s);
    if (!found || found->size() < 8) {
        failure = "the sensor's characteristic was not found";
        return {};
    }
    index = found->storage()[7];
    first.sendNotify(sensorAddress(), index);
    if (!first.waitType(GobWriteDone, 10s) || !dongle.waitSubscribed(valueHandle, 5s)) {
        failure = "the subscription did not reach the sensor";
        return {};
    }
    return sockets;
}
