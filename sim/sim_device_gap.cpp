// SimDevice: discovery, direct connection, disconnection and link queries.
// See sim_device.h.
#include "sim/sim_device_internal.h"

#include <algorithm>

namespace sim {

namespace {

// The flags byte of advertising data (AD type 0x01), 0 when there is none.
uint8_t advertisedFlags(const Bytes& data) {
    size_t at = 0;
    while (at + 1 < data.size() && data[at] != 0) {
        const size_t length = data[at];
        if (data[at + 1] == 0x01 && length >= 2 && at + 2 < data.size()) {
            return data[at + 2];
        }
        at += length + 1;
    }
    return 0;
}

// Whether a discovery of `mode` (0 limited, 1 generic, 2 observation) reports `data`.
bool reportedIn(uint8_t mode, const Bytes& data) {
    constexpr uint8_t limited = 0x01;
    constexpr uint8_t general = 0x02;
    switch (mode) {
    case 0:
        return (advertisedFlags(data) & limited) != 0;
    case 1:
        return (advertisedFlags(data) & (limited | general)) != 0;
    default:
        return true;
    }
}

bool validConnectParameters(int64_t intervalMin, int64_t intervalMax, int64_t timeout,
                            int64_t latency) {
    return intervalMin >= 6 && intervalMax <= 3200 && intervalMin <= intervalMax && timeout >= 10 &&
           timeout <= 3200 && latency <= 500;
}

} // namespace

VirtualPeripheral* SimDevice::peripheralAt(const Address& address) {
    for (auto& peripheral : peripherals_) {
        if (peripheral->profile.address == address) {
            return peripheral.get();
        }
    }
    return nullptr;
}

int SimDevice::activeConnections() const {
    int count = 0;
    for (const auto& connection : connections_) {
        count += connection != nullptr ? 1 : 0;
    }
    return count;
}

int SimDevice::freeHandle() const {
    for (size_t handle = 0; handle < connections_.size(); ++handle) {
        if (connections_[handle] == nullptr) {
            return static_cast<int>(handle);
        }
    }
    return -1;
}

std::vector<ConnectionInfo> SimDevice::connections() const {
    std::vector<ConnectionInfo> out;
    for (const auto& connection : connections_) {
        if (connection != nullptr) {
            out.push_back({connection->handle, connection->peripheral->profile.address,
                           connection->interval, connection->timeout, connection->latency});
        }
    }
    return out;
}

void SimDevice::gapSetScanParameters(const Message& message, SimTime /*now*/) {
    const int64_t interval = message.number("scan_interval");
    const int64_t window = message.number("scan_window");
    if (interval < 4 || interval > 0x4000 || window < 4 || window > interval) {
        respond("gap_set_scan_parameters", {number(result::invalidParameter)});
        return;
    }
    activeScan_ = message.number("active") != 0;
    respond("gap_set_scan_parameters", {number(result::ok)});
}

void SimDevice::gapDiscover(const Message& message, SimTime now) {
    const int64_t mode = message.number("mode");
    if (mode > 2) {
        respond("gap_discover", {number(result::invalidParameter)});
        return;
    }
    if (discovering_ || pending_) {
        respond("gap_discover", {number(result::wrongState)});
        return;
    }
    respond("gap_discover", {number(result::ok)});
    discovering_ = true;
    discoverMode_ = static_cast<uint8_t>(mode);
    ++discoveryEpoch_;
    for (auto& peripheral : peripherals_) {
        // Each peripheral is met at a random phase of its interval.
        scheduleAdvertising(*peripheral,
                            now + SimTime(random_() % advertisingInterval(*peripheral)));
    }
}

uint32_t SimDevice::advertisingInterval(const VirtualPeripheral& peripheral) {
    return std::max<uint32_t>(peripheral.profile.advIntervalMs, 20);
}

void SimDevice::scheduleAdvertising(VirtualPeripheral& peripheral, SimTime at) {
    scheduleInBoot(at, [this, &peripheral, epoch = discoveryEpoch_](SimTime now) {
        if (!discovering_ || epoch != discoveryEpoch_) {
            return;
        }
        advertise(peripheral, now);
        // Each advertising event comes late by a random 0 to 10 ms, as on the air.
        const auto delay = advertisingInterval(peripheral) + static_cast<uint32_t>(random_() % 11);
        scheduleAdvertising(peripheral, now + SimTime(delay));
    });
}

void SimDevice::advertise(VirtualPeripheral& peripheral, SimTime /*now*/) {
    const PeripheralSpec& profile = peripheral.profile;
    if (!profile.inRange || !peripheral.advertising || peripheral.connection >= 0 ||
        !reportedIn(discoverMode_, profile.advData)) {
        return;
    }
    constexpr int connectable = 0;
    constexpr int nonConnectable = 2;
    constexpr int scanResponse = 4;
    constexpr int noBond = 0xFF;
    emit("gap_scan_response",
         {number(varied(profile.rssi)), number(profile.connectable ? connectable : nonConnectable),
          bytes(profile.address), number(profile.addressType), number(noBond),
          bytes(profile.advData)});
    if (activeScan_ && !profile.scanResponseData.empty()) {
        emit("gap_scan_response",
             {number(varied(profile.rssi)), number(scanResponse), bytes(profile.address),
              number(profile.addressType), number(noBond), bytes(profile.scanResponseData)});
    }
}

void SimDevice::gapEndProcedure(const Message& /*message*/, SimTime /*now*/) {
    if (!discovering_ && !pending_) {
        respond("gap_end_procedure", {number(result::wrongState)});
        return;
    }
    discovering_ = false;
    ++discoveryEpoch_;
    pending_.reset();
    respond("gap_end_procedure", {number(result::ok)});
}

void SimDevice::gapConnectDirect(const Message& message, SimTime now) {
    const auto refuse = [this](uint16_t code) {
        respond("gap_connect_direct", {number(code), number(0)});
    };
    if (pending_ || (discovering_ && config_.refuseConnectWhileDiscovering)) {
        refuse(result::wrongState);
        return;
    }
    const int64_t intervalMin = message.number("conn_interval_min");
    const int64_t timeout = message.number("timeout");
    const int64_t latency = message.number("latency");
    if (!validConnectParameters(intervalMin, message.number("conn_interval_max"), timeout,
                                latency)) {
        refuse(result::invalidParameter);
        return;
    }
    if (activeConnections() >= config_.maxConnections) {
        refuse(result::connectionLimit);
        return;
    }
    Address address{};
    const Bytes& given = message.bytes("address");
    std::copy(given.begin(), given.end(), address.begin());
    VirtualPeripheral* peripheral = peripheralAt(address);
    if (peripheral != nullptr && !peripheral->profile.connectable) {
        peripheral = nullptr;
    }
    if (stalledConnects_ > 0) {
        --stalledConnects_;
        peripheral = nullptr;
    }
    const auto handle = static_cast<uint8_t>(freeHandle());
    respond("gap_connect_direct", {number(result::ok), number(handle)});
    pending_ = PendingConnect{handle,
                              peripheral,
                              static_cast<uint16_t>(intervalMin),
                              static_cast<uint16_t>(timeout),
                              static_cast<uint16_t>(latency),
                              nextLinkId_++};
    if (peripheral != nullptr) {
        tryConnect(pending_->id, now);
    }
}

// The peripheral answers at its next advertising event while it is in range and free.
void SimDevice::tryConnect(uint64_t id, SimTime now) {
    scheduleInBoot(
        now + SimTime(advertisingInterval(*pending_->peripheral)), [this, id](SimTime at) {
            if (!pending_ || pending_->id != id) {
                return;
            }
            const VirtualPeripheral& peripheral = *pending_->peripheral;
            if (peripheral.profile.inRange && peripheral.advertising && peripheral.connection < 0) {
                completeConnect(at);
            } else {
                tryConnect(id, at);
            }
        });
}

void SimDevice::completeConnect(SimTime /*now*/) {
    auto connection = std::make_unique<Connection>();
    connection->handle = pending_->handle;
    connection->peripheral = pending_->peripheral;
    connection->interval = pending_->interval;
    connection->timeout = pending_->timeout;
    connection->latency = pending_->latency;
    connection->id = pending_->id;
    pending_.reset();
    VirtualPeripheral& peripheral = *connection->peripheral;
    peripheral.connection = connection->handle;
    constexpr int connectedAndCompleted = 0x05;
    constexpr int noBond = 0xFF;
    emit("connection_status",
         {number(connection->handle), number(connectedAndCompleted),
          bytes(peripheral.profile.address), number(peripheral.profile.addressType),
          number(connection->interval), number(connection->timeout), number(connection->latency),
          number(noBond)});
    connections_[connection->handle] = std::move(connection);
}

void SimDevice::endConnection(uint8_t handle, uint16_t reason) {
    auto& connection = connections_[handle];
    emit("connection_disconnected", {number(handle), number(reason)});
    connection->peripheral->connection = -1;
    connection->peripheral->gatt.clearConfigurations();
    connection.reset();
}

void SimDevice::connectionDisconnect(const Message& message, SimTime now) {
    const int64_t handle = message.number("connection");
    Connection* connection = handle < static_cast<int64_t>(connections_.size())
                                 ? connections_[static_cast<size_t>(handle)].get()
                                 : nullptr;
    if (connection == nullptr) {
        respond("connection_disconnect", {number(handle), number(result::notConnected)});
        return;
    }
    respond("connection_disconnect", {number(handle), number(result::ok)});
    scheduleInBoot(now + connection->intervalTime(), [this, handle, id = connection->id](SimTime) {
        const auto& current = connections_[static_cast<size_t>(handle)];
        if (current != nullptr && current->id == id) {
            endConnection(static_cast<uint8_t>(handle), result::localHostTerminated);
        }
    });
}

bool SimDevice::remoteDisconnect(uint8_t handle, uint16_t reason, SimTime now) {
    advance(now);
    if (handle >= connections_.size() || connections_[handle] == nullptr) {
        return false;
    }
    endConnection(handle, reason);
    return true;
}

bool SimDevice::setInRange(const Address& address, bool inRange, SimTime now) {
    advance(now);
    VirtualPeripheral* peripheral = peripheralAt(address);
    if (peripheral == nullptr) {
        return false;
    }
    peripheral->profile.inRange = inRange;
    if (inRange || peripheral->connection < 0) {
        return true;
    }
    // A link to a peripheral that went away ends when its supervision timeout runs out.
    const Connection& connection = *connections_[static_cast<size_t>(peripheral->connection)];
    scheduleInBoot(now + SimTime(connection.timeout * 10),
                   [this, peripheral, handle = connection.handle, id = connection.id](SimTime) {
                       const auto& current = connections_[handle];
                       if (!peripheral->profile.inRange && current != nullptr &&
                           current->id == id) {
                           endConnection(handle, result::supervisionTimeout);
                       }
                   });
    return true;
}

bool SimDevice::setAdvertising(const Address& address, bool advertising) {
    VirtualPeripheral* peripheral = peripheralAt(address);
    if (peripheral == nullptr) {
        return false;
    }
    peripheral->advertising = advertising;
    return true;
}

void SimDevice::connectionGetRssi(const Message& message, SimTime /*now*/) {
    const int64_t handle = message.number("connection");
    const Connection* connection = handle < static_cast<int64_t>(connections_.size())
                                       ? connections_[static_cast<size_t>(handle)].get()
                                       : nullptr;
    const int8_t rssi = connection != nullptr ? varied(connection->peripheral->profile.rssi) : 0;
    respond("connection_get_rssi", {number(handle), number(rssi)});
}

void SimDevice::connectionGetStatus(const Message& message, SimTime /*now*/) {
    const int64_t handle = message.number("connection");
    respond("connection_get_status", {number(handle)});
    if (handle >= static_cast<int64_t>(connections_.size()) ||
        connections_[static_cast<size_t>(handle)] == nullptr) {
        return;
    }
    const Connection& connection = *connections_[static_cast<size_t>(handle)];
    const PeripheralSpec& profile = connection.peripheral->profile;
    constexpr int connected = 0x01;
    constexpr int noBond = 0xFF;
    emit("connection_status",
         {number(handle), number(connected), bytes(profile.address), number(profile.addressType),
          number(connection.interval), number(connection.timeout), number(connection.latency),
          number(noBond)});
}

} // namespace sim
