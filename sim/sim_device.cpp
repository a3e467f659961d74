// SimDevice core: scheduling, packet intake, dispatch, output, power and faults.
// See sim_device.h.
#include "sim/sim_device_internal.h"

#include <algorithm>
#include <map>

namespace sim {

namespace {

bool later(const auto& a, const auto& b) {
    return a.at != b.at ? a.at > b.at : a.seq > b.seq;
}

} // namespace

SimDevice::SimDevice(SimConfig config, std::vector<PeripheralSpec> peripherals, SimLink& link)
    : settings(config), hostLink(link), randomEngine(config.seed) {
    settings.maxConnections = std::clamp(settings.maxConnections, 1, 8);
    connectionSlots.resize(static_cast<size_t>(settings.maxConnections));
    for (auto& profile : peripherals) {
        addPeripheral(std::move(profile));
    }
}

SimDevice::~SimDevice() = default;

void SimDevice::addPeripheral(PeripheralSpec profile) {
    virtualPeripherals.push_back(std::make_unique<VirtualPeripheral>(std::move(profile)));
}

void SimDevice::schedule(SimTime at, std::function<void(SimTime)> action) {
    timers.push_back({at, timerSeq++, std::move(action)});
    std::push_heap(timers.begin(), timers.end(),
                   [](const Timer& a, const Timer& b) { return later(a, b); });
}

void SimDevice::scheduleInBoot(SimTime at, std::function<void(SimTime)> action) {
    schedule(at, [this, epoch = bootEpoch, action = std::move(action)](SimTime now) {
        if (epoch == bootEpoch) {
            action(now);
        }
    });
}

void SimDevice::advance(SimTime now) {
    const auto order = [](const Timer& a, const Timer& b) { return later(a, b); };
    while (!timers.empty() && timers.front().at <= now) {
        std::pop_heap(timers.begin(), timers.end(), order);
        Timer timer = std::move(timers.back());
        timers.pop_back();
        timer.action(timer.at);
    }
}

std::optional<SimTime> SimDevice::nextDue() const {
    if (timers.empty()) {
        return std::nullopt;
    }
    return timers.front().at;
}

void SimDevice::start(SimTime now) {
    attach(now);
}

void SimDevice::receive(std::span<const uint8_t> bytes, SimTime now) {
    advance(now);
    if (!isPresent) {
        return;
    }
    parser.push(bytes, now);
    while (auto intake = parser.next()) {
        handleIntake(*intake, now);
    }
    if (parser.pending()) {
        scheduleInBoot(now + commandIdleLimit + SimTime(1),
                       [this](SimTime at) { expireCommand(at); });
    }
}

void SimDevice::expireCommand(SimTime now) {
    parser.expire(now);
}

void SimDevice::handleIntake(const Intake& intake, SimTime now) {
    const Bytes& packet = intake.bytes;
    const MessageRow* row = intake.rejection != 0
                                ? nullptr
                                : messageTable().find(MessageKind::Command, packet[2], packet[3]);
    recorded.push_back({now, packet, row != nullptr ? row->name : std::string()});
    if (settings.recordLimit != 0 && recorded.size() > settings.recordLimit) {
        recorded.pop_front();
    }
    if (isSilent) {
        return;
    }
    auto process = [this, packet, rejection = intake.rejection](SimTime at) {
        if (rejection != 0) {
            emit("system_protocol_error", {number(rejection)});
            return;
        }
        const Decoded decoded = decodePacket(MessageKind::Command, packet);
        if (decoded.status == DecodeStatus::Ok) {
            dispatch(decoded.message, at);
            return;
        }
        const uint16_t reason = decoded.status == DecodeStatus::Unknown ? result::notRecognized
                                                                        : result::invalidParameter;
        emit("system_protocol_error", {number(reason)});
    };
    if (responseDelayMs == 0) {
        process(now);
    } else {
        scheduleInBoot(now + SimTime(responseDelayMs), process);
    }
}

SimDevice::Handler SimDevice::handlerFor(const std::string& name) {
    static const std::map<std::string, Handler, std::less<>> handlers = {
        {"system_reset", &SimDevice::systemReset},
        {"dfu_reset", &SimDevice::systemReset},
        {"system_hello", &SimDevice::systemHello},
        {"system_address_get", &SimDevice::systemAddressGet},
        {"system_get_info", &SimDevice::systemGetInfo},
        {"system_get_connections", &SimDevice::systemGetConnections},
        {"system_get_counters", &SimDevice::systemGetCounters},
        {"gap_discover", &SimDevice::gapDiscover},
        {"gap_end_procedure", &SimDevice::gapEndProcedure},
        {"gap_connect_direct", &SimDevice::gapConnectDirect},
        {"gap_set_scan_parameters", &SimDevice::gapSetScanParameters},
        {"gap_set_mode", &SimDevice::gapSetMode},
        {"gap_set_filtering", &SimDevice::gapSetFiltering},
        {"gap_set_adv_parameters", &SimDevice::gapSetAdvParameters},
        {"connection_update", &SimDevice::connectionUpdate},
        {"sm_encrypt_start", &SimDevice::smEncryptStart},
        {"sm_get_bonds", &SimDevice::smGetBonds},
        {"sm_delete_bonding", &SimDevice::smDeleteBonding},
        {"connection_disconnect", &SimDevice::connectionDisconnect},
        {"connection_get_rssi", &SimDevice::connectionGetRssi},
        {"connection_get_status", &SimDevice::connectionGetStatus},
        {"attclient_read_by_group_type", &SimDevice::readByGroupType},
        {"attclient_read_by_type", &SimDevice::readByType},
        {"attclient_find_by_type_value", &SimDevice::findByTypeValue},
        {"attclient_find_information", &SimDevice::findInformation},
        {"attclient_read_by_handle", &SimDevice::readByHandle},
        {"attclient_read_long", &SimDevice::readLong},
        {"attclient_read_multiple", &SimDevice::readMultiple},
        {"attclient_attribute_write", &SimDevice::attributeWrite},
        {"attclient_write_command", &SimDevice::writeCommand},
        {"attclient_prepare_write", &SimDevice::prepareWrite},
        {"attclient_execute_write", &SimDevice::executeWrite},
        {"attclient_indicate_confirm", &SimDevice::indicateConfirm},
    };
    const auto found = handlers.find(name);
    return found != handlers.end() ? found->second : &SimDevice::unsupported;
}

void SimDevice::dispatch(const Message& message, SimTime now) {
    (this->*handlerFor(message.row->name))(message, now);
}

void SimDevice::send(MessageKind kind, const char* name, const std::vector<Value>& values) {
    const Bytes packet = encodePacket(messageTable().byName(kind, name), values);
    if (isPresent && !isSilent && !hostLink.toHost(packet)) {
        ++framesDropped;
    }
}

void SimDevice::respond(const char* name, const std::vector<Value>& values) {
    send(MessageKind::Response, name, values);
}

void SimDevice::emit(const char* name, const std::vector<Value>& values) {
    send(MessageKind::Event, name, values);
}

void SimDevice::powerDown() {
    ++bootEpoch;
    discoveryRunning = false;
    activeScan = false;
    pendingConnect.reset();
    for (auto& connection : connectionSlots) {
        connection.reset();
    }
    for (auto& peripheral : virtualPeripherals) {
        peripheral->connection = -1;
        peripheral->gatt.clearConfigurations();
    }
    parser.clear();
    if (isPresent) {
        isPresent = false;
        hostLink.setPresent(false);
    }
}

void SimDevice::attach(SimTime /*now*/) {
    if (isPresent) {
        return;
    }
    // The boot goes out as the module comes back: only a host that has the port open
    // at this moment hears it, not one that opens the port a moment later.
    const bool hostListening = hostLink.hostOpen();
    isPresent = true;
    hostLink.setPresent(true);
    if (hostListening) {
        emit("system_boot",
             {number(1), number(3), number(2), number(122), number(3), number(1), number(1)});
    }
}

void SimDevice::unplug(SimTime /*now*/) {
    powerDown();
}

void SimDevice::replug(SimTime now) {
    attach(now);
}

void SimDevice::setSilent(bool silent) {
    isSilent = silent;
}

void SimDevice::setResponseDelay(uint32_t milliseconds) {
    responseDelayMs = milliseconds;
}

void SimDevice::sendRaw(const Bytes& bytes) {
    if (isPresent) {
        hostLink.toHost(bytes);
    }
}

Bytes SimDevice::garbage(size_t count) {
    Bytes out(count);
    for (auto& byte : out) {
        byte = static_cast<uint8_t>(randomEngine() & 0xFF);
    }
    return out;
}

void SimDevice::failWriteCommands(int count) {
    failingWrites = std::max(count, 0);
}

void SimDevice::stallConnects(int count) {
    stalledConnects = std::max(count, 0);
}

int8_t SimDevice::varied(int8_t rssi) {
    const int offset = static_cast<int>(randomEngine() % 9) - 4;
    return static_cast<int8_t>(std::clamp(rssi + offset, -127, 20));
}

} // namespace sim
