// Handlers of the dongle's events: connections made and lost, the steps and ends of the
// attribute procedures, attribute values and scan results.
//
// Threads: reader thread, `lock` held (ConduitBg::readCycle).
#include "conduit/bg/bg_uuid.h"
#include "conduit/bg/conduit_bg.h"
#include "conduit/bgapi/bgapi_pack.h"
#include "conduit/bgapi/bgapi_views.h"
#include "conduit/serial/serial_io.h"
#include "gob/gob_events.h"
#include "log/log.h"

#include <algorithm>

namespace {

constexpr uint8_t connectionCompleted = 0x04; // connection_status flag
constexpr uint8_t readByTypeValue = 3;        // attclient_attribute_value type
constexpr uint8_t executeCommit = 1;

// BGAPI reasons of connection_disconnected.
constexpr uint16_t reasonLocalHost = 0x0216;
constexpr uint16_t reasonRemoteUser = 0x0213;
constexpr uint16_t reasonSupervisionTimeout = 0x0208;
constexpr uint16_t reasonLinkLayerTimeout = 0x0222;

// Look-up results that name an attribute which exists but whose value cannot be read
// (read not permitted, insufficient authentication, authorization, encryption key size,
// encryption): the characteristic is there, at the handle of the completion.
bool namesUnreadableAttribute(uint16_t result) {
    switch (result) {
    case 0x0402:
    case 0x0405:
    case 0x0408:
    case 0x040C:
    case 0x040F:
        return true;
    default:
        return false;
    }
}

} // namespace

DisconnectReason disconnectReasonCode(uint16_t bgapiReason) {
    switch (bgapiReason) {
    case 0:
    case reasonLocalHost:
        return DisconnectReason::Local;
    case reasonRemoteUser:
        return DisconnectReason::Remote;
    case reasonSupervisionTimeout:
        return DisconnectReason::SupervisionTimeout;
    case reasonLinkLayerTimeout:
        return DisconnectReason::LinkLayerTimeout;
    default:
        return DisconnectReason::Other;
    }
}

void ConduitBg::onConnectionStatus(const uint8_t* payload, size_t length) {
    const BgConnectionStatusEvent event{payload, length};
    const int32_t connection = event.connection();
    const uint8_t flags = event.flags();
    const BleAddress address{event.address()};
    logPrint(LogStamp::With, "ble_evt_connection_status, flags: %x\n",
             static_cast<unsigned>(flags));
    if ((flags & connectionCompleted) == 0) {
        return;
    }
    logPrint(LogStamp::With, "connected\n");
    if (gapOps.empty()) {
        // Nobody asked for it: recorded without a session and disconnected again.
        logPrint(LogStamp::With, "BG conduit: connected unexpectedly, disconnecting\n");
        connections[address] = connection;
        queueGapOp(GapOp(GapOpType::Disconnect, address));
        return;
    }
    completeGapOp(GapOpType::Connect, &address);
    emit(buildConnectedGob, address);
    connections[address] = connection;
    BgSession session;
    session.address = address;
    sessions.insert_or_assign(connection, session);
}

void ConduitBg::onConnectionDisconnected(const uint8_t* payload, size_t length) {
    const BgConnectionDisconnectedEvent event{payload, length};
    const int32_t connection = event.connection();
    const DisconnectReason code = disconnectReasonCode(event.reason());
    logPrint(LogStamp::With, "ble_evt_connection_disconnected\n");
    const auto session = sessions.find(connection);
    if (session != sessions.end()) {
        const BleAddress address = session->second.address;
        completeGapOp(GapOpType::Disconnect, &address);
        emit(buildDisconnectedGob, address, static_cast<uint8_t>(code));
        connections.erase(address);
        sessions.erase(session);
    } else {
        const auto entry =
            std::find_if(connections.begin(), connections.end(),
                         [connection](const auto& known) { return known.second == connection; });
        if (entry != connections.end()) {
            const BleAddress address = entry->first;
            completeGapOp(GapOpType::Disconnect, &address);
            connections.erase(entry);
        }
    }
    dropWaitingChunks(connection);
}

void ConduitBg::onProcedureCompleted(const uint8_t* payload, size_t length) {
    const BgAttclientProcedureCompletedEvent event{payload, length};
    const int32_t connection = event.connection();
    const uint16_t result = event.result();
    const uint16_t handle = event.chrhandle();
    logPrint(LogStamp::With, "ble_evt_attclient_procedure_completed\n");
    BgSession* session = findSession(connection);
    if (session != nullptr && session->state == SessionState::FindingChars) {
        if (result != 0) {
            logPrint(LogStamp::With, "bluegiga error %x in ble_evt_attclient_procedure_completed\n",
                     static_cast<unsigned>(result));
        }
        if (namesUnreadableAttribute(result)) {
            logPrint(LogStamp::Without, "attribute found\n");
            characteristicFound(*session, handle);
        }
        completeLookUp(*session, connection);
        return;
    }
    if (result != 0) {
        logPrint(LogStamp::With, "bluegiga error %x in ble_evt_attclient_procedure_completed\n",
                 static_cast<unsigned>(result));
        if (session == nullptr) {
            logPrint(LogStamp::Without, "no session\n");
        } else if (session->state != SessionState::Idle &&
                   session->state != SessionState::WritingNoResponse) {
            failProcedure(connection, session->state);
        }
        return;
    }
    if (session != nullptr) {
        completeProcedure(*session, connection, handle);
    }
}

void ConduitBg::completeLookUp(BgSession& session, int32_t connection) {
    if (!session.pendingUuids.empty()) {
        session.pendingUuids.pop_back(); // the UUID just looked up, found or not
    }
    if (!lookUpNextCharacteristic(session, connection)) {
        endProcedure(session, ProcedureOutcome::CharacteristicsFound);
    }
}

void ConduitBg::completeProcedure(BgSession& session, int32_t connection, uint16_t handle) {
    switch (session.state) {
    case SessionState::Idle:
        logPrint(LogStamp::With, "unexpected ble_evt_attclient_procedure_completed on address ");
        logHex(session.address.bytes.data(), static_cast<uint32_t>(session.address.bytes.size()));
        logPrint(LogStamp::Without, "\n");
        return;
    case SessionState::FindingServices:
        endProcedure(session, ProcedureOutcome::ServicesFound);
        return;
    case SessionState::FindingChars:
        completeLookUp(session, connection);
        return;
    case SessionState::LongWriting:
        if (session.writeBytesLeft() == 0) {
            sendCommand(BgMessage::CmdAttclientExecuteWrite, connection, executeCommit);
            session.state = SessionState::Executing;
        } else {
            sendNextPrepareWrite(connection, handle, session);
        }
        return;
    case SessionState::Writing:
    case SessionState::Executing:
        // A completion for a handle that is no known characteristic ends the write unheard.
        endProcedure(session, session.charIndexByHandle.contains(handle)
                                  ? ProcedureOutcome::WriteDone
                                  : ProcedureOutcome::Failed);
        return;
    case SessionState::WritingNoResponse:
        return;
    }
}

void ConduitBg::onGroupFound(const uint8_t* payload, size_t length) {
    const BgAttclientGroupFoundEvent event{payload, length};
    const int32_t connection = event.connection();
    const int32_t start = event.start();
    const std::span<const uint8_t> uuidBytes = event.uuid();
    logPrint(LogStamp::With, "ble_evt_attclient_group_found\n");
    BgSession* session = findSession(connection);
    if (session == nullptr) {
        return;
    }
    const std::optional<UuidRecord> uuid = uuidFromWire(uuidBytes.data(), uuidBytes.size());
    if (!uuid) {
        logPrint(LogStamp::With, "BG conduit: service at handle %d with a %u-byte UUID ignored\n",
                 start, static_cast<unsigned>(uuidBytes.size()));
        return;
    }
    if (!session->serviceIndexByHandle.contains(start)) {
        if (session->serviceIndexByHandle.size() >= maxIndexesPerSession) {
            logPrint(LogStamp::With, "BG conduit: no service index left, handle %d skipped\n",
                     start);
            return;
        }
        const auto index = static_cast<int32_t>(session->serviceIndexByHandle.size());
        session->serviceIndexByHandle.emplace(start, index);
    }
    session->serviceUuidByHandle.insert_or_assign(start, *uuid);
}

void ConduitBg::onAttributeValue(const uint8_t* payload, size_t length) {
    const BgAttclientAttributeValueEvent event{payload, length};
    const int32_t connection = event.connection();
    const int32_t handle = event.atthandle();
    const uint8_t type = event.type();
    BgSession* session = findSession(connection);
    if (session == nullptr) {
        return;
    }
    if (session->state == SessionState::FindingChars && type == readByTypeValue) {
        logPrint(LogStamp::With, "ble_evt_attclient_attribute_value, attribute found\n");
        characteristicFound(*session, handle);
        return;
    }
    const std::optional<uint8_t> index = session->charIndex(handle);
    if (index) {
        const std::span<const uint8_t> value = event.value();
        emit(buildAttributeValueGob, session->address, *index, value.data(),
             static_cast<uint32_t>(value.size()));
    }
}

void ConduitBg::onScanResponse(const uint8_t* payload, size_t length) {
    const BgGapScanResponseEvent event{payload, length};
    const BleAddress sender{event.sender()};
    addressTypes.seen(sender, event.addressType());
    // Data longer than what arrived is cut to what arrived (by the view).
    const std::span<const uint8_t> data = event.data();
    emit(buildScanResultGob, sender, data.data(), static_cast<uint32_t>(data.size()), event.rssi());
}
