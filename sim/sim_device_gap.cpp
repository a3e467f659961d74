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
    for (auto& peripheral : virtualPeripherals) {
        if (peripheral->profile.address == address) {
            return peripheral.get();
        }
    }
    return nullptr;
}

int SimDevice::activeConnections() const {
    int count = 0;
    for (const auto& connection : connectionSlots) {
        count += connection != nullptr ? 1 : 0;
    }
    return count;
}

int SimDevice::freeHandle() const {
    for (size_t handle = 0; handle < connectionSlots.size(); ++handle) {
        if (connectionSlots[handle] == nullptr) {
            return static_cast<int>(handle);
        }
    }
    return -1;
}

std::vector<ConnectionInfo> SimDevice::connections() const {
    std::vector<ConnectionInfo> out;
    for (const auto& connection : connectionSlots) {
        if (connection != nullptr) {
            out.push_back({connection->handle, connection->peripheral->profile.address,
                           connection->interval, connection->timeout, connection->latency,
                           connection->encrypted});
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
    activeScan = message.number("active") != 0;
    scanInterval = static_cast<uint16_t>(interval);
    scanWindow = static_cast<uint16_t>(window);
    respond("gap_set_scan_parameters", {number(result::ok)});
}

// The module's own advertising. Nothing in the simulation scans for it, so the mode and
// the parameters are checked and kept by nobody.
void SimDevice::gapSetMode(const Message& message, SimTime /*now*/) {
    constexpr int64_t lastDiscoverMode = 4; // user data
    constexpr int64_t lastConnectMode = 3;  // scannable non-connectable
    const bool valid = message.number("discover") <= lastDiscoverMode &&
                       message.number("connect") <= lastConnectMode;
    respond("gap_set_mode", {number(valid ? result::ok : result::invalidParameter)});
}

void SimDevice::gapSetAdvParameters(const Message& message, SimTime /*now*/) {
    const int64_t low = message.number("adv_interval_min");
    const int64_t high = message.number("adv_interval_max");
    const int64_t channels = message.number("adv_channels");
    const bool valid =
        low >= 0x20 && low <= high && high <= 0x4000 && channels >= 1 && channels <= 7;
    respond("gap_set_adv_parameters", {number(valid ? result::ok : result::invalidParameter)});
}

// The scan and advertising policies (white list) are accepted and not applied; duplicate
// filtering is: each device's advertisement and scan response are reported once per
// discovery.
void SimDevice::gapSetFiltering(const Message& message, SimTime /*now*/) {
    const int64_t duplicates = message.number("scan_duplicate_filtering");
    const bool valid =
        message.number("scan_policy") <= 1 && message.number("adv_policy") <= 3 && duplicates <= 1;
    if (valid) {
        filterDuplicates = duplicates != 0;
    }
    respond("gap_set_filtering", {number(valid ? result::ok : result::invalidParameter)});
}

void SimDevice::gapDiscover(const Message& message, SimTime now) {
    const int64_t mode = message.number("mode");
    if (mode > 2) {
        respond("gap_discover", {number(result::invalidParameter)});
        return;
    }
    if (discoveryRunning || pendingConnect) {
        respond("gap_discover", {number(result::wrongState)});
        return;
    }
    respond("gap_discover", {number(result::ok)});
    discoveryRunning = true;
    discoverMode = static_cast<uint8_t>(mode);
    discoveryStart = now;
    reported.clear();
    ++discoveryEpoch;
    for (auto& peripheral : virtualPeripherals) {
        // Each peripheral is met at a random phase of its interval.
        scheduleAdvertising(*peripheral,
                            now + SimTime(randomEngine() % advertisingInterval(*peripheral)));
    }
}

uint32_t SimDevice::advertisingInterval(const VirtualPeripheral& peripheral) {
    return std::max<uint32_t>(peripheral.profile.advIntervalMs, 20);
}

void SimDevice::scheduleAdvertising(VirtualPeripheral& peripheral, SimTime at) {
    scheduleInBoot(at, [this, &peripheral, epoch = discoveryEpoch](SimTime now) {
        if (!discoveryRunning || epoch != discoveryEpoch) {
            return;
        }
        advertise(peripheral, now);
        // Each advertising event comes late by a random 0 to 10 ms, as on the air.
        const auto delay =
            advertisingInterval(peripheral) + static_cast<uint32_t>(randomEngine() % 11);
        scheduleAdvertising(peripheral, now + SimTime(delay));
    });
}

// Whether the scanner listens at `at`: in the window that opens each scan interval.
bool SimDevice::inScanWindow(SimTime at) const {
    if (settings.instant) {
        return true;
    }
    constexpr int64_t unitMicroseconds = 625;
    const int64_t since = (at - discoveryStart).count() * 1000;
    return since % (scanInterval * unitMicroseconds) < scanWindow * unitMicroseconds;
}

// False for a report that duplicate filtering holds back.
bool SimDevice::firstReport(const VirtualPeripheral& peripheral, int packetType) {
    return !filterDuplicates || reported.insert({peripheral.profile.address, packetType}).second;
}

void SimDevice::advertise(VirtualPeripheral& peripheral, SimTime now) {
    const PeripheralSpec& profile = peripheral.profile;
    if (!profile.inRange || !peripheral.advertising || peripheral.connection >= 0 ||
        !reportedIn(discoverMode, profile.advData) || !inScanWindow(now)) {
        return;
    }
    constexpr int connectable = 0;
    constexpr int nonConnectable = 2;
    constexpr int scanResponse = 4;
    constexpr int noBond = 0xFF;
    const int type = profile.connectable ? connectable : nonConnectable;
    if (firstReport(peripheral, type)) {
        emit("gap_scan_response",
             {number(varied(profile.rssi)), number(type), bytes(profile.address),
              number(profile.addressType), number(noBond), bytes(profile.advData)});
    }
    if (activeScan && !profile.scanResponseData.empty() && firstReport(peripheral, scanResponse)) {
        emit("gap_scan_response",
             {number(varied(profile.rssi)), number(scanResponse), bytes(profile.address),
              number(profile.addressType), number(noBond), bytes(profile.scanResponseData)});
    }
}

void SimDevice::gapEndProcedure(const Message& /*message*/, SimTime /*now*/) {
    if (!discoveryRunning && !pendingConnect) {
        respond("gap_end_procedure", {number(result::wrongState)});
        return;
    }
    discoveryRunning = false;
    ++discoveryEpoch;
    pendingConnect.reset();
    respond("gap_end_procedure", {number(result::ok)});
}

void SimDevice::gapConnectDirect(const Message& message, SimTime now) {
    const auto refuse = [this](uint16_t code) {
        respond("gap_connect_direct", {number(code), number(0)});
    };
    if (pendingConnect || (discoveryRunning && settings.refuseConnectWhileDiscovering)) {
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
    if (activeConnections() >= settings.maxConnections) {
        refuse(result::connectionLimit);
        return;
    }
    Address address{};
    const Bytes& given = message.bytes("address");
    std::copy(given.begin(), given.end(), address.begin());
    VirtualPeripheral* peripheral = peripheralAt(address);
    // A radio answers only a connect request for its own address and address type.
    if (peripheral != nullptr && (!peripheral->profile.connectable ||
                                  peripheral->profile.addressType != message.number("addr_type"))) {
        peripheral = nullptr;
    }
    if (stalledConnects > 0) {
        --stalledConnects;
        peripheral = nullptr;
    }
    const auto handle = static_cast<uint8_t>(freeHandle());
    respond("gap_connect_direct", {number(result::ok), number(handle)});
    pendingConnect = PendingConnect{handle,
                                    peripheral,
                                    static_cast<uint16_t>(intervalMin),
                                    static_cast<uint16_t>(timeout),
                                    static_cast<uint16_t>(latency),
                                    nextLinkId++};
    if (peripheral != nullptr) {
        tryConnect(pendingConnect->id, now);
    }
}

// The peripheral answers at its next advertising event while it is in range and free.
void SimDevice::tryConnect(uint64_t id, SimTime now) {
    scheduleInBoot(
        now + SimTime(advertisingInterval(*pendingConnect->peripheral)), [this, id](SimTime at) {
            if (!pendingConnect || pendingConnect->id != id) {
                return;
            }
            const VirtualPeripheral& peripheral = *pendingConnect->peripheral;
            if (peripheral.profile.inRange && peripheral.advertising && peripheral.connection < 0) {
                completeConnect(at);
            } else {
                tryConnect(id, at);
            }
        });
}

void SimDevice::completeConnect(SimTime /*now*/) {
    auto connection = std::make_unique<Connection>();
    connection->handle = pendingConnect->handle;
    connection->peripheral = pendingConnect->peripheral;
    connection->interval = pendingConnect->interval;
    connection->timeout = pendingConnect->timeout;
    connection->latency = pendingConnect->latency;
    connection->id = pendingConnect->id;
    connection->bond = static_cast<uint8_t>(bondOf(connection->peripheral->profile.address));
    pendingConnect.reset();
    connection->peripheral->connection = connection->handle;
    emitConnectionStatus(*connection, linkFlag::connected | linkFlag::completed);
    connectionSlots[connection->handle] = std::move(connection);
}

void SimDevice::emitConnectionStatus(const Connection& connection, int flags) {
    const PeripheralSpec& profile = connection.peripheral->profile;
    emit("connection_status",
         {number(connection.handle), number(flags), bytes(profile.address),
          number(profile.addressType), number(connection.interval), number(connection.timeout),
          number(connection.latency), number(connection.bond)});
}

// The new parameters take effect at an instant the central sets six connection events
// ahead; then connection_status reports them with flag 0x08.
void SimDevice::connectionUpdate(const Message& message, SimTime now) {
    const int64_t handle = message.number("connection");
    Connection* connection = handle < static_cast<int64_t>(connectionSlots.size())
                                 ? connectionSlots[static_cast<size_t>(handle)].get()
                                 : nullptr;
    const int64_t intervalMin = message.number("interval_min");
    const int64_t timeout = message.number("timeout");
    const int64_t latency = message.number("latency");
    uint16_t code = result::ok;
    if (connection == nullptr) {
        code = result::notConnected;
    } else if (!validConnectParameters(intervalMin, message.number("interval_max"), timeout,
                                       latency)) {
        code = result::invalidParameter;
    }
    respond("connection_update", {number(handle), number(code)});
    if (code != result::ok) {
        return;
    }
    constexpr int eventsAhead = 6;
    const SimTime instant = now + connection->intervalTime() * (settings.instant ? 1 : eventsAhead);
    scheduleInBoot(instant, [this, link = connection->handle, id = connection->id,
                             interval = static_cast<uint16_t>(intervalMin),
                             timeout = static_cast<uint16_t>(timeout),
                             latency = static_cast<uint16_t>(latency)](SimTime) {
        Connection* current = connectionSlots[link].get();
        if (current == nullptr || current->id != id) {
            return;
        }
        current->interval = interval;
        current->timeout = timeout;
        current->latency = latency;
        const int encrypted = current->encrypted ? linkFlag::encrypted : 0;
        emitConnectionStatus(*current,
                             linkFlag::connected | encrypted | linkFlag::parametersChanged);
    });
}

void SimDevice::endConnection(uint8_t handle, uint16_t reason) {
    auto& connection = connectionSlots[handle];
    emit("connection_disconnected", {number(handle), number(reason)});
    connection->peripheral->connection = -1;
    connection->peripheral->gatt.clearConfigurations();
    connection.reset();
}

void SimDevice::connectionDisconnect(const Message& message, SimTime now) {
    const int64_t handle = message.number("connection");
    Connection* connection = handle < static_cast<int64_t>(connectionSlots.size())
                                 ? connectionSlots[static_cast<size_t>(handle)].get()
                                 : nullptr;
    if (connection == nullptr) {
        respond("connection_disconnect", {number(handle), number(result::notConnected)});
        return;
    }
    respond("connection_disconnect", {number(handle), number(result::ok)});
    scheduleInBoot(now + connection->intervalTime(), [this, handle, id = connection->id](SimTime) {
        const auto& current = connectionSlots[static_cast<size_t>(handle)];
        if (current != nullptr && current->id == id) {
            endConnection(static_cast<uint8_t>(handle), result::localHostTerminated);
        }
    });
}

bool SimDevice::remoteDisconnect(uint8_t handle, uint16_t reason, SimTime now) {
    advance(now);
    if (handle >= connectionSlots.size() || connectionSlots[handle] == nullptr) {
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
    const Connection& connection = *connectionSlots[static_cast<size_t>(peripheral->connection)];
    scheduleInBoot(now + SimTime(connection.timeout * 10),
                   [this, peripheral, handle = connection.handle, id = connection.id](SimTime) {
                       const auto& current = connectionSlots[handle];
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
    const Connection* connection = handle < static_cast<int64_t>(connectionSlots.size())
                                       ? connectionSlots[static_cast<size_t>(handle)].get()
                                       : nullptr;
    const int8_t rssi = connection != nullptr ? varied(connection->peripheral->profile.rssi) : 0;
    respond("connection_get_rssi", {number(handle), number(rssi)});
}

void SimDevice::connectionGetStatus(const Message& message, SimTime /*now*/) {
    const int64_t handle = message.number("connection");
    respond("connection_get_status", {number(handle)});
    if (handle >= static_cast<int64_t>(connectionSlots.size()) ||
        connectionSlots[static_cast<size_t>(handle)] == nullptr) {
        return;
    }
    const Connection& connection = *connectionSlots[static_cast<size_t>(handle)];
    emitConnectionStatus(connection,
                         linkFlag::connected | (connection.encrypted ? linkFlag::encrypted : 0));
}

} // namespace sim
