// The operations on a live connection (discovery, read, subscriptions, RSSI) and the
// characteristic look-ups that discovery runs. Writes are in conduit_bg_writes.cpp.
//
// Each operation runs on the mux thread with `lock` held by the caller and finds its
// target through lookUpTarget (conduit_bg.cpp), whose answer to a missing link depends
// only on the operation's kind. An address without a connection is not a failure: the
// operation returns true.
#include "conduit/bg/bg_uuid.h"
#include "conduit/bg/conduit_bg.h"
#include "conduit/bgapi/bgapi_pack.h"
#include "conduit/serial/serial_io.h"
#include "log/log.h"

#include <algorithm>
#include <utility>

namespace {

constexpr uint16_t firstHandle = 0x0001;
constexpr uint16_t lastHandle = 0xFFFF;
// The primary service declaration 0x2800, least significant byte first.
constexpr uint8_t primaryServiceUuid[] = {0x00, 0x28};

// Client characteristic configuration values.
constexpr uint8_t configurationOff = 0;
constexpr uint8_t configurationNotify = 1;
constexpr uint8_t configurationIndicate = 2;

} // namespace

bool ConduitBg::findServices(const BleAddress& address) {
    ASSERT_HELD(lock);
    const OperationTarget target =
        lookUpTarget("findServices", OperationKind::Procedure, address, TargetLink::Session);
    if (target.answer) {
        return *target.answer;
    }
    if (target.session->state != SessionState::Idle) {
        logPrint(LogStamp::With, "BG conduit: in findServices, session busy\n");
        WaitingRequest request;
        request.kind = WaitingRequest::Kind::FindServices;
        return waitForIdle(*target.session, std::move(request));
    }
    target.session->state = SessionState::FindingServices;
    kickReader();
    sendCommand(BgMessage::CmdAttclientReadByGroupType, target.connection, firstHandle, lastHandle,
                sizeof primaryServiceUuid, primaryServiceUuid);
    return true;
}

bool ConduitBg::findCharsAndDescs(const BleAddress& address, const std::vector<UuidRecord>& uuids) {
    ASSERT_HELD(lock);
    const OperationTarget target =
        lookUpTarget("findCharsAndDescs", OperationKind::Procedure, address, TargetLink::Session);
    if (target.answer) {
        return *target.answer;
    }
    BgSession& session = *target.session;
    if (session.state != SessionState::Idle) {
        // Unlike the other busy lines, this one names the procedure that is running.
        logPrint(LogStamp::With, "BG conduit: in findCharsAndDescs, session busy (%d)\n",
                 static_cast<int>(session.state));
        WaitingRequest request;
        request.kind = WaitingRequest::Kind::FindAttributes;
        request.uuids = uuids;
        return waitForIdle(session, std::move(request));
    }
    session.state = SessionState::FindingChars;
    session.pendingUuids = uuids;
    kickReader();
    if (!lookUpNextCharacteristic(session, target.connection)) {
        endProcedure(session, ProcedureOutcome::CharacteristicsFound); // nothing to look up
    }
    return true;
}

bool ConduitBg::lookUpNextCharacteristic(BgSession& session, int32_t connection) {
    if (session.pendingUuids.empty()) {
        return false;
    }
    const std::array<uint8_t, 16> type = uuidTypeField(session.pendingUuids.back());
    sendCommand(BgMessage::CmdAttclientReadByType, connection, firstHandle, lastHandle, type.size(),
                type.data());
    return true;
}

void ConduitBg::characteristicFound(BgSession& session, int32_t handle) {
    if (session.pendingUuids.empty()) {
        logPrint(LogStamp::With,
                 "BG conduit: characteristic at handle %d found with no UUID pending\n", handle);
        return;
    }
    if (session.charIndexByHandle.contains(handle)) {
        // Known already: reported again with its index and the UUID it was found by.
        if (std::find(session.foundHandles.begin(), session.foundHandles.end(), handle) ==
            session.foundHandles.end()) {
            session.foundHandles.push_back(handle);
        }
        return;
    }
    if (session.charIndexByHandle.size() >= maxIndexesPerSession) {
        logPrint(LogStamp::With, "BG conduit: no characteristic index left, handle %d skipped\n",
                 handle);
        return;
    }
    const auto index = static_cast<uint8_t>(session.charIndexByHandle.size());
    session.charIndexByHandle.emplace(handle, index);
    session.charHandleByIndex.emplace(index, handle);
    session.charUuidByHandle.insert_or_assign(handle, session.pendingUuids.back());
    session.foundHandles.push_back(handle);
}

bool ConduitBg::read(const BleAddress& address, uint8_t index) {
    ASSERT_HELD(lock);
    const OperationTarget target =
        lookUpTarget("read", OperationKind::Command, address, TargetLink::Characteristic, index);
    if (target.answer) {
        return *target.answer;
    }
    kickReader();
    sendCommand(BgMessage::CmdAttclientReadByHandle, target.connection, target.handle);
    return true;
}

bool ConduitBg::notify(const BleAddress& address, uint8_t index) {
    ASSERT_HELD(lock);
    return writeConfiguration("notify", address, index, configurationNotify);
}

bool ConduitBg::indicate(const BleAddress& address, uint8_t index) {
    ASSERT_HELD(lock);
    return writeConfiguration("indicate", address, index, configurationIndicate);
}

bool ConduitBg::unsubscribe(const BleAddress& address, uint8_t index) {
    ASSERT_HELD(lock);
    return writeConfiguration("unsubscribe", address, index, configurationOff);
}

// The client characteristic configuration is taken to be the attribute right after the
// characteristic's value. Its write joins the write queue; the session's state is neither
// checked nor changed.
bool ConduitBg::writeConfiguration(const char* operation, const BleAddress& address, uint8_t index,
                                   uint8_t value) {
    const OperationTarget target = lookUpTarget(operation, OperationKind::Subscription, address,
                                                TargetLink::Characteristic, index);
    if (target.answer) {
        return *target.answer;
    }
    const uint8_t data[] = {value, 0};
    kickReader();
    enqueueWriteChunk(target.connection, target.handle + 1, data, sizeof data,
                      WriteChunkKind::Subscription);
    return true;
}

bool ConduitBg::getRssi(const BleAddress& address) {
    ASSERT_HELD(lock);
    const OperationTarget target =
        lookUpTarget("getRssi", OperationKind::Command, address, TargetLink::Connection);
    if (target.answer) {
        return *target.answer;
    }
    kickReader();
    sendCommand(BgMessage::CmdConnectionGetRssi, target.connection);
    return true;
}
