// SimDevice: the system class, resets, and the answer to every command the simulated
// module does not carry out. See sim_device.h.
#include "sim/sim_device_internal.h"

namespace sim {

void SimDevice::systemReset(const Message& /*message*/, SimTime now) {
    // No response: the module drops off the bus and comes back (announcing its boot to a
    // host that has the port open by then). The DFU boot that system_reset(1) and
    // dfu_reset ask for is not simulated: the module always boots into its normal
    // program, and linkrelay-sim --help says so.
    powerDown();
    schedule(now + SimTime(settings.reenumerateDelayMs), [this, epoch = bootEpoch](SimTime at) {
        if (epoch == bootEpoch) {
            attach(at);
        }
    });
}

void SimDevice::systemHello(const Message& /*message*/, SimTime /*now*/) {
    respond("system_hello", {});
}

void SimDevice::systemAddressGet(const Message& /*message*/, SimTime /*now*/) {
    respond("system_address_get", {bytes(settings.address)});
}

void SimDevice::systemGetInfo(const Message& /*message*/, SimTime /*now*/) {
    respond("system_get_info",
            {number(1), number(3), number(2), number(122), number(3), number(1), number(1)});
}

void SimDevice::systemGetConnections(const Message& /*message*/, SimTime /*now*/) {
    respond("system_get_connections", {number(settings.maxConnections)});
    for (const auto& connection : connectionSlots) {
        if (connection != nullptr) {
            emitConnectionStatus(*connection,
                                 linkFlag::connected |
                                     (connection->encrypted ? linkFlag::encrypted : 0));
        }
    }
}

void SimDevice::systemGetCounters(const Message& /*message*/, SimTime /*now*/) {
    respond("system_get_counters", {number(0), number(0), number(0), number(0), number(0)});
}

// The response row of the command, filled the way the module fills a refusal: a result
// of 0x0183 (feature not implemented), the command's own value for a parameter of the
// same name (such as the connection), and zero or empty for everything else.
void SimDevice::unsupported(const Message& message, SimTime /*now*/) {
    const MessageRow& command = *message.row;
    const MessageRow* response =
        messageTable().find(MessageKind::Response, command.classId, command.id);
    std::vector<Value> values;
    for (const auto& param : response->params) {
        if (param.name == "result") {
            values.push_back(number(result::notImplemented));
        } else if (param.type == ParamType::Address) {
            values.push_back(bytes(Address{}));
        } else if (isArray(param.type)) {
            values.push_back(bytes(Bytes{}));
        } else {
            int64_t value = 0;
            for (size_t i = 0; i < command.params.size(); ++i) {
                if (command.params[i].name == param.name && !isArray(command.params[i].type) &&
                    command.params[i].type != ParamType::Address) {
                    value = std::get<int64_t>(message.values[i]);
                }
            }
            values.push_back(number(value));
        }
    }
    send(MessageKind::Response, command.name.c_str(), values);
}

} // namespace sim
