// SimDevice: the GATT client procedures (attclient class) run against the GATT table of
// the connected virtual peripheral, and the notifications and indications it sends.
// See sim_device.h.
//
// Every procedure answers with its response at once; what the peripheral answers over
// the air comes one connection interval later, one ATT round trip after another per link.
// A discovery (services, characteristics, descriptors) runs in as many rounds as ATT
// responses at the default MTU of 23 need: a response holds entries of one size only,
// as many as fit into 22 bytes after its opcode (for example five 16-bit or one 128-bit
// handle/UUID pair of find_information, three 16-bit groups of read_by_group_type), and
// the peer's "attribute not found" for the range after the last entry takes a round of
// its own. An instant device answers all of it in the first round.
#include "sim/sim_device_internal.h"

#include <algorithm>
#include <map>

namespace sim {

namespace {

Bytes truncated(const Bytes& value, size_t limit) {
    return {value.begin(),
            value.begin() + static_cast<std::ptrdiff_t>(std::min(limit, value.size()))};
}

uint16_t handleOf(const Message& message, const char* name) {
    return static_cast<uint16_t>(message.number(name));
}

// Collects a discovery's entries into rounds: all entries of a round have one size, and
// they fill at most `room` bytes of it.
class RoundPacker {
public:
    explicit RoundPacker(size_t room) : room(room) {}

    void add(Outgoing entry, size_t size) {
        if (rounds.empty() || size != entrySize || used + size > room) {
            rounds.emplace_back();
            used = 0;
            entrySize = size;
        }
        rounds.back().push_back(std::move(entry));
        used += size;
    }
    bool empty() const { return rounds.empty(); }
    std::vector<Round> take() { return std::move(rounds); }

private:
    size_t room;
    size_t used = 0;
    size_t entrySize = 0;
    std::vector<Round> rounds;
};

// A response's room for entries: the PDU without its opcode and length or format byte.
constexpr size_t listRoom = attResponseRoom - 1;

} // namespace

SimDevice::Connection* SimDevice::attclientConnection(const Message& message) {
    const int64_t handle = message.number("connection");
    if (handle < 0 || handle >= static_cast<int64_t>(connectionSlots.size())) {
        return nullptr;
    }
    return connectionSlots[static_cast<size_t>(handle)].get();
}

void SimDevice::afterRoundTrip(Connection& connection, SimTime now,
                               std::function<void(SimTime)> step) {
    const SimTime at = std::max(now, connection.busyUntil) + connection.intervalTime();
    connection.busyUntil = at;
    scheduleInBoot(at, [this, handle = connection.handle, id = connection.id,
                        step = std::move(step)](SimTime when) {
        const auto& current = connectionSlots[handle];
        if (current != nullptr && current->id == id) {
            step(when);
        }
    });
}

void SimDevice::completed(uint8_t connection, uint16_t code, uint16_t handle) {
    emit("attclient_procedure_completed", {number(connection), number(code), number(handle)});
}

void SimDevice::finishDiscovery(uint8_t link, uint16_t start, std::vector<Round> rounds,
                                bool finalRound, SimTime now) {
    if (rounds.empty()) {
        completed(link, result::attributeNotFound, start);
        return;
    }
    answerInRounds(*connectionSlots[link], now, std::move(rounds),
                   completion(link, result::ok, start), finalRound);
}

Outgoing SimDevice::completion(uint8_t connection, uint16_t code, uint16_t handle) const {
    return {"attclient_procedure_completed", {number(connection), number(code), number(handle)}};
}

void SimDevice::answerInRounds(Connection& connection, SimTime now, std::vector<Round> rounds,
                               Outgoing last, bool finalRound) {
    if (settings.instant) {
        for (const Round& round : rounds) {
            for (const Outgoing& entry : round) {
                emit(entry.name, entry.values);
            }
        }
        emit(last.name, last.values);
        return;
    }
    sendRounds(connection.handle, now, std::move(rounds), 0, std::move(last), finalRound);
}

void SimDevice::sendRounds(uint8_t link, SimTime now, std::vector<Round> rounds, size_t at,
                           Outgoing last, bool finalRound) {
    if (at < rounds.size()) {
        for (const Outgoing& entry : rounds[at]) {
            emit(entry.name, entry.values);
        }
    }
    const bool lastRound = at + 1 >= rounds.size();
    if (lastRound && (!finalRound || at >= rounds.size())) {
        emit(last.name, last.values);
        return;
    }
    afterRoundTrip(*connectionSlots[link], now,
                   [this, link, rounds = std::move(rounds), at, last = std::move(last),
                    finalRound](SimTime when) mutable {
                       sendRounds(link, when, std::move(rounds), at + 1, std::move(last),
                                  finalRound);
                   });
}

SimDevice::Connection* SimDevice::beginProcedure(const char* responseName, const Message& message,
                                                 bool valid) {
    Connection* connection = attclientConnection(message);
    const int64_t link = message.number("connection");
    uint16_t code = result::ok;
    if (connection == nullptr) {
        code = result::notConnected;
    } else if (!valid) {
        code = result::invalidParameter;
    }
    respond(responseName, {number(link), number(code)});
    return code == result::ok ? connection : nullptr;
}

void SimDevice::readByGroupType(const Message& message, SimTime now) {
    const auto type = Uuid::fromWire(message.bytes("uuid"));
    Connection* connection =
        beginProcedure("attclient_read_by_group_type", message, type.has_value());
    if (connection == nullptr) {
        return;
    }
    const uint8_t link = connection->handle;
    GattDatabase& gatt = connection->peripheral->gatt;
    const uint16_t start = handleOf(message, "start");
    const uint16_t end = handleOf(message, "end");
    afterRoundTrip(*connection, now, [this, link, &gatt, start, end, type = *type](SimTime at) {
        if (start == 0 || start > end) {
            completed(link, result::invalidHandle, start);
            return;
        }
        if (type != Uuid::from16(attType::primaryService) &&
            type != Uuid::from16(attType::secondaryService)) {
            completed(link, result::unsupportedGroupType, start);
            return;
        }
        RoundPacker packer(listRoom);
        uint16_t lastEnd = 0;
        for (const auto& attribute : gatt.attributes()) {
            if (attribute.handle >= start && attribute.handle <= end && attribute.type == type) {
                packer.add({"attclient_group_found",
                            {number(link), number(attribute.handle), number(attribute.groupEnd),
                             bytes(attribute.value)}},
                           4 + attribute.value.size());
                lastEnd = attribute.groupEnd;
            }
        }
        finishDiscovery(link, start, packer.take(), lastEnd < end, at);
    });
}

void SimDevice::readByType(const Message& message, SimTime now) {
    const auto type = Uuid::fromWire(message.bytes("uuid"));
    Connection* connection = beginProcedure("attclient_read_by_type", message, type.has_value());
    if (connection == nullptr) {
        return;
    }
    const uint8_t link = connection->handle;
    GattDatabase& gatt = connection->peripheral->gatt;
    const uint16_t start = handleOf(message, "start");
    const uint16_t end = handleOf(message, "end");
    afterRoundTrip(*connection, now, [this, link, &gatt, start, end, type = *type](SimTime at) {
        if (start == 0 || start > end) {
            completed(link, result::invalidHandle, start);
            return;
        }
        RoundPacker packer(listRoom);
        uint16_t lastHandle = 0;
        for (const auto& attribute : gatt.attributes()) {
            if (attribute.handle < start || attribute.handle > end || attribute.type != type) {
                continue;
            }
            if (!attribute.readable()) {
                // The first match in error ends the procedure with that error; a later
                // one ends the list.
                if (packer.empty()) {
                    completed(link, result::readNotPermitted, attribute.handle);
                    return;
                }
                break;
            }
            constexpr int readByTypeValue = 3;
            const Bytes value = truncated(attribute.value, maxReadByTypeLength);
            const size_t size = 2 + value.size();
            packer.add(
                {"attclient_attribute_value",
                 {number(link), number(attribute.handle), number(readByTypeValue), bytes(value)}},
                size);
            lastHandle = attribute.handle;
        }
        finishDiscovery(link, start, packer.take(), lastHandle < end, at);
    });
}

void SimDevice::findByTypeValue(const Message& message, SimTime now) {
    Connection* connection = beginProcedure("attclient_find_by_type_value", message, true);
    if (connection == nullptr) {
        return;
    }
    const uint8_t link = connection->handle;
    GattDatabase& gatt = connection->peripheral->gatt;
    const uint16_t start = handleOf(message, "start");
    const uint16_t end = handleOf(message, "end");
    const Uuid type = Uuid::from16(handleOf(message, "uuid"));
    afterRoundTrip(
        *connection, now,
        [this, link, &gatt, start, end, type, value = message.bytes("value")](SimTime at) {
            RoundPacker packer(attResponseRoom);
            uint16_t lastEnd = 0;
            for (const auto& attribute : gatt.attributes()) {
                if (attribute.handle >= start && attribute.handle <= end &&
                    attribute.type == type && attribute.value == value) {
                    const uint16_t groupEnd = attribute.role == AttributeRole::Service
                                                  ? attribute.groupEnd
                                                  : attribute.handle;
                    constexpr size_t handlesInformation = 4;
                    packer.add(
                        {"attclient_group_found",
                         {number(link), number(attribute.handle), number(groupEnd), bytes(value)}},
                        handlesInformation);
                    lastEnd = groupEnd;
                }
            }
            finishDiscovery(link, start, packer.take(), lastEnd < end, at);
        });
}

void SimDevice::findInformation(const Message& message, SimTime now) {
    Connection* connection = beginProcedure("attclient_find_information", message, true);
    if (connection == nullptr) {
        return;
    }
    const uint8_t link = connection->handle;
    GattDatabase& gatt = connection->peripheral->gatt;
    const uint16_t start = handleOf(message, "start");
    const uint16_t end = handleOf(message, "end");
    afterRoundTrip(*connection, now, [this, link, &gatt, start, end](SimTime at) {
        RoundPacker packer(listRoom);
        uint16_t lastHandle = 0;
        for (const auto& attribute : gatt.attributes()) {
            if (attribute.handle >= start && attribute.handle <= end) {
                const Bytes type = attribute.type.wire();
                const size_t size = 2 + type.size();
                packer.add({"attclient_find_information_found",
                            {number(link), number(attribute.handle), bytes(type)}},
                           size);
                lastHandle = attribute.handle;
            }
        }
        finishDiscovery(link, start, packer.take(), lastHandle < end, at);
    });
}

void SimDevice::readByHandle(const Message& message, SimTime now) {
    Connection* connection = beginProcedure("attclient_read_by_handle", message, true);
    if (connection == nullptr) {
        return;
    }
    const uint8_t link = connection->handle;
    GattDatabase& gatt = connection->peripheral->gatt;
    const uint16_t handle = handleOf(message, "chrhandle");
    afterRoundTrip(*connection, now, [this, link, &gatt, handle](SimTime) {
        const Attribute* attribute = gatt.find(handle);
        if (attribute == nullptr) {
            completed(link, result::invalidHandle, handle);
        } else if (!attribute->readable()) {
            completed(link, result::readNotPermitted, handle);
        } else {
            constexpr int readValue = 0;
            emit("attclient_attribute_value", {number(link), number(handle), number(readValue),
                                               bytes(truncated(attribute->value, maxReadLength))});
        }
    });
}

void SimDevice::readLong(const Message& message, SimTime now) {
    Connection* connection = beginProcedure("attclient_read_long", message, true);
    if (connection == nullptr) {
        return;
    }
    const uint8_t link = connection->handle;
    GattDatabase& gatt = connection->peripheral->gatt;
    const uint16_t handle = handleOf(message, "chrhandle");
    afterRoundTrip(*connection, now, [this, link, &gatt, handle](SimTime) {
        const Attribute* attribute = gatt.find(handle);
        if (attribute == nullptr || !attribute->readable()) {
            completed(link, attribute == nullptr ? result::invalidHandle : result::readNotPermitted,
                      handle);
            return;
        }
        // A read, then blob reads while the last piece filled a whole PDU.
        constexpr int readValue = 0;
        constexpr int readBlobValue = 4;
        size_t offset = 0;
        do {
            const size_t length = std::min(maxReadLength, attribute->value.size() - offset);
            const auto first = attribute->value.begin() + static_cast<std::ptrdiff_t>(offset);
            emit("attclient_attribute_value",
                 {number(link), number(handle), number(offset == 0 ? readValue : readBlobValue),
                  bytes(Bytes(first, first + static_cast<std::ptrdiff_t>(length)))});
            offset += length;
            if (length < maxReadLength) {
                break;
            }
        } while (true);
        completed(link, result::ok, handle);
    });
}

void SimDevice::readMultiple(const Message& message, SimTime now) {
    const Bytes& list = message.bytes("handles");
    Connection* connection = beginProcedure("attclient_read_multiple", message,
                                            list.size() >= 4 && list.size() % 2 == 0);
    if (connection == nullptr) {
        return;
    }
    const uint8_t link = connection->handle;
    GattDatabase& gatt = connection->peripheral->gatt;
    afterRoundTrip(*connection, now, [this, link, &gatt, list](SimTime) {
        Bytes values;
        for (size_t at = 0; at + 1 < list.size(); at += 2) {
            const auto handle = static_cast<uint16_t>(list[at] | (list[at + 1] << 8));
            const Attribute* attribute = gatt.find(handle);
            if (attribute == nullptr || !attribute->readable()) {
                completed(link,
                          attribute == nullptr ? result::invalidHandle : result::readNotPermitted,
                          handle);
                return;
            }
            values.insert(values.end(), attribute->value.begin(), attribute->value.end());
        }
        emit("attclient_read_multiple_response",
             {number(link), bytes(truncated(values, maxReadLength))});
    });
}

void SimDevice::attributeWrite(const Message& message, SimTime now) {
    const Bytes& data = message.bytes("data");
    Connection* connection =
        beginProcedure("attclient_attribute_write", message, data.size() <= maxWriteLength);
    if (connection == nullptr) {
        return;
    }
    const uint8_t link = connection->handle;
    GattDatabase& gatt = connection->peripheral->gatt;
    const uint16_t handle = handleOf(message, "atthandle");
    afterRoundTrip(*connection, now, [this, link, &gatt, handle, data](SimTime at) {
        Attribute* attribute = gatt.find(handle);
        if (attribute == nullptr) {
            completed(link, result::invalidHandle, handle);
        } else if (!attribute->writable(true)) {
            completed(link, result::writeNotPermitted, handle);
        } else if (attribute->role == AttributeRole::ClientConfiguration && data.size() != 2) {
            completed(link, result::invalidValueLength, handle);
        } else {
            writeValue(*connectionSlots[link], *attribute, data, at);
            completed(link, result::ok, handle);
        }
    });
}

void SimDevice::writeCommand(const Message& message, SimTime now) {
    const Bytes& data = message.bytes("data");
    Connection* connection = attclientConnection(message);
    const int64_t link = message.number("connection");
    if (connection == nullptr) {
        respond("attclient_write_command", {number(link), number(result::notConnected)});
        return;
    }
    if (data.size() > maxWriteLength) {
        respond("attclient_write_command", {number(link), number(result::invalidParameter)});
        return;
    }
    if (failingWrites > 0) {
        --failingWrites;
        respond("attclient_write_command", {number(link), number(result::outOfMemory)});
        return;
    }
    respond("attclient_write_command", {number(link), number(result::ok)});
    const uint16_t handle = handleOf(message, "atthandle");
    GattDatabase& gatt = connection->peripheral->gatt;
    // Nobody answers a write command: one the peripheral cannot take is dropped.
    afterRoundTrip(*connection, now, [this, link, &gatt, handle, data](SimTime at) {
        Attribute* attribute = gatt.find(handle);
        if (attribute == nullptr || !attribute->writable(false) ||
            (attribute->role == AttributeRole::ClientConfiguration && data.size() != 2)) {
            return;
        }
        writeValue(*connectionSlots[static_cast<size_t>(link)], *attribute, data, at);
    });
}

void SimDevice::prepareWrite(const Message& message, SimTime now) {
    const Bytes& data = message.bytes("data");
    Connection* connection =
        beginProcedure("attclient_prepare_write", message, data.size() <= maxPrepareLength);
    if (connection == nullptr) {
        return;
    }
    const uint8_t link = connection->handle;
    GattDatabase& gatt = connection->peripheral->gatt;
    const uint16_t handle = handleOf(message, "atthandle");
    const uint16_t offset = handleOf(message, "offset");
    afterRoundTrip(*connection, now, [this, link, &gatt, handle, offset, data](SimTime) {
        const Attribute* attribute = gatt.find(handle);
        if (attribute == nullptr) {
            completed(link, result::invalidHandle, handle);
        } else if (!attribute->writable(true)) {
            completed(link, result::writeNotPermitted, handle);
        } else {
            connectionSlots[link]->prepared.push_back({handle, offset, data});
            completed(link, result::ok, handle);
        }
    });
}

void SimDevice::executeWrite(const Message& message, SimTime now) {
    Connection* connection = beginProcedure("attclient_execute_write", message, true);
    if (connection == nullptr) {
        return;
    }
    const uint8_t link = connection->handle;
    GattDatabase& gatt = connection->peripheral->gatt;
    const bool commit = message.number("commit") != 0;
    afterRoundTrip(*connection, now, [this, link, &gatt, commit](SimTime at) {
        Connection& current = *connectionSlots[link];
        const std::vector<PreparedWrite> queue = std::move(current.prepared);
        current.prepared.clear();
        const uint16_t first = queue.empty() ? 0 : queue.front().handle;
        if (!commit) {
            completed(link, result::ok, first);
            return;
        }
        // A piece at offset 0 starts the value afresh; later pieces continue it.
        std::map<uint16_t, Bytes> values;
        for (const auto& piece : queue) {
            auto [entry, isNew] = values.try_emplace(piece.handle, gatt.find(piece.handle)->value);
            Bytes& value = entry->second;
            if (piece.offset == 0) {
                value.clear();
            }
            if (piece.offset > value.size()) {
                completed(link, result::invalidOffset, piece.handle);
                return;
            }
            if (piece.offset + piece.data.size() > maxAttributeLength) {
                completed(link, result::invalidValueLength, piece.handle);
                return;
            }
            value.resize(std::max(value.size(), piece.offset + piece.data.size()));
            std::copy(piece.data.begin(), piece.data.end(),
                      value.begin() + static_cast<std::ptrdiff_t>(piece.offset));
        }
        for (const auto& [handle, value] : values) {
            writeValue(current, *gatt.find(handle), value, at);
        }
        completed(link, result::ok, first);
    });
}

void SimDevice::indicateConfirm(const Message& message, SimTime /*now*/) {
    Connection* connection = attclientConnection(message);
    const bool expected = connection != nullptr && connection->awaitingConfirm;
    if (expected) {
        connection->awaitingConfirm = false;
    }
    respond("attclient_indicate_confirm", {number(expected ? result::ok : result::wrongState)});
}

void SimDevice::writeValue(Connection& connection, Attribute& attribute, const Bytes& data,
                           SimTime now) {
    attribute.value = data;
    if (attribute.role == AttributeRole::ClientConfiguration) {
        if ((data[0] & 0x03) != 0 && attribute.characteristic->notifyIntervalMs > 0) {
            startPeriodicNotify(connection, attribute.valueHandle, now);
        }
        return;
    }
    if (attribute.characteristic->echoWrites) {
        for (size_t at = 0; at < data.size(); at += maxNotifyLength) {
            const auto first = data.begin() + static_cast<std::ptrdiff_t>(at);
            const size_t length = std::min(maxNotifyLength, data.size() - at);
            pushValue(connection, attribute,
                      Bytes(first, first + static_cast<std::ptrdiff_t>(length)));
        }
    }
}

void SimDevice::pushValue(Connection& connection, Attribute& value, const Bytes& data) {
    const Attribute* configuration = connection.peripheral->gatt.configurationOf(value.handle);
    if (configuration == nullptr) {
        return;
    }
    const uint8_t bits = configuration->value[0];
    constexpr int notification = 1;
    constexpr int indication = 2;
    constexpr int indicationToConfirm = 5;
    int type = 0;
    if ((bits & 0x01) != 0) {
        type = notification;
    } else if ((bits & 0x02) != 0) {
        type = settings.confirmIndications ? indicationToConfirm : indication;
        connection.awaitingConfirm = settings.confirmIndications;
    } else {
        return;
    }
    emit("attclient_attribute_value", {number(connection.handle), number(value.handle),
                                       number(type), bytes(truncated(data, maxNotifyLength))});
}

void SimDevice::startPeriodicNotify(Connection& connection, uint16_t valueHandle, SimTime now) {
    if (!connection.periodic.insert(valueHandle).second) {
        return;
    }
    VirtualPeripheral& peripheral = *connection.peripheral;
    const Attribute& value = *peripheral.gatt.find(valueHandle);
    const SimTime period(value.characteristic->notifyIntervalMs);
    scheduleInBoot(now + period, [this, link = connection.handle, id = connection.id, valueHandle,
                                  &peripheral](SimTime at) {
        Connection* current = connectionSlots[link].get();
        if (current == nullptr || current->id != id) {
            return;
        }
        const Attribute* configuration = peripheral.gatt.configurationOf(valueHandle);
        current->periodic.erase(valueHandle);
        if ((configuration->value[0] & 0x03) == 0) {
            return;
        }
        Attribute& value = *peripheral.gatt.find(valueHandle);
        const auto& sequence = value.characteristic->valueSequence;
        if (!sequence.empty()) {
            value.value = sequence[peripheral.sequenceStep++ % sequence.size()];
        }
        pushValue(*current, value, value.value);
        startPeriodicNotify(*current, valueHandle, at);
    });
}

bool SimDevice::updateValue(const Address& address, uint16_t valueHandle, const Bytes& value,
                            SimTime now) {
    advance(now);
    VirtualPeripheral* peripheral = peripheralAt(address);
    Attribute* attribute = peripheral != nullptr ? peripheral->gatt.find(valueHandle) : nullptr;
    if (attribute == nullptr || attribute->role != AttributeRole::Value) {
        return false;
    }
    attribute->value = truncated(value, maxAttributeLength);
    if (peripheral->connection >= 0) {
        pushValue(*connectionSlots[static_cast<size_t>(peripheral->connection)], *attribute, value);
    }
    return true;
}

} // namespace sim
