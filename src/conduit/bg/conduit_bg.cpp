// ConduitBg: construction, the state word, event posting, the test seams, the look-up
// chain of the operations (which never inserts) and the one end of every procedure.
#include "conduit/bg/conduit_bg.h"

#include "conduit/bgapi/bgapi_pack.h"
#include "gob/gob_events.h"
#include "log/log.h"

#include <chrono>
#include <thread>

ConduitBg* activeConduit = nullptr;

namespace {

constexpr uint8_t executeCancel = 0;

} // namespace

ConduitBg::ConduitBg(EventSink* sink, SerialPortSource& ports) : Conduit(sink), ports(ports) {}

ConduitBg::~ConduitBg() {
    if (activeConduit == this) {
        activeConduit = nullptr;
    }
}

ConduitKind ConduitBg::getType() {
    return ConduitKind::Dongle;
}

ConduitState ConduitBg::getState() {
    return state.load();
}

void ConduitBg::setState(ConduitState value) {
    state.exchange(value);
    emit(buildStatusGob, getType(), value);
}

void ConduitBg::post(const Gob& gob) {
    mux->postEvent(gob);
}

int64_t ConduitBg::clockSeconds() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::seconds>(now).count();
}

void ConduitBg::sleepMs(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

ConduitBg::OperationTarget ConduitBg::lookUpTarget(const char* operation, OperationKind kind,
                                                   const BleAddress& address, TargetLink link,
                                                   uint8_t index) {
    OperationTarget target;
    if (!isReadyFor(operation)) {
        target.answer = false;
        return target;
    }
    const std::optional<int32_t> connection = findConnection(address);
    if (!connection) {
        if (kind != OperationKind::Subscription) {
            logPrint(LogStamp::With,
                     "BG conduit: in %s, can't find connection associated with address\n",
                     operation);
        }
        target.answer = true;
        return target;
    }
    target.connection = *connection;
    if (link == TargetLink::Connection) {
        return target;
    }
    // Past the connection, a missing link refuses a procedure and drops anything else.
    const bool missingAnswer = kind != OperationKind::Procedure;
    target.session = findSession(*connection);
    if (target.session == nullptr) {
        logPrint(LogStamp::With,
                 "BG conduit: in %s, can't find session associated with connection\n", operation);
        target.answer = missingAnswer;
        return target;
    }
    if (link == TargetLink::Session) {
        return target;
    }
    const std::optional<int32_t> handle = target.session->charHandle(index);
    if (!handle) {
        logPrint(LogStamp::With, "BG conduit: in %s, missing characteristic\n", operation);
        target.answer = missingAnswer;
        return target;
    }
    target.handle = *handle;
    return target;
}

bool ConduitBg::isReadyFor(const char* operation) const {
    if (ready.load()) {
        return true;
    }
    logPrint(LogStamp::With, "BG conduit: %s called but not ready\n", operation);
    return false;
}

std::optional<int32_t> ConduitBg::findConnection(const BleAddress& address) const {
    const auto found = connections.find(address);
    if (found == connections.end()) {
        return std::nullopt;
    }
    return found->second;
}

BgSession* ConduitBg::findSession(int32_t connection) {
    const auto found = sessions.find(connection);
    return found == sessions.end() ? nullptr : &found->second;
}

void ConduitBg::endProcedure(BgSession& session, ProcedureOutcome outcome) {
    switch (outcome) {
    case ProcedureOutcome::Failed:
        break;
    case ProcedureOutcome::ServicesFound:
        for (const auto& [start, index] : session.serviceIndexByHandle) {
            const auto uuid = session.serviceUuidByHandle.find(start);
            if (uuid != session.serviceUuidByHandle.end()) {
                emit(buildServiceFoundGob, session.address, static_cast<uint8_t>(index),
                     uuid->second);
            }
        }
        break;
    case ProcedureOutcome::CharacteristicsFound:
        for (const int32_t handle : session.foundHandles) {
            const std::optional<uint8_t> index = session.charIndex(handle);
            const auto uuid = session.charUuidByHandle.find(handle);
            if (index && uuid != session.charUuidByHandle.end()) {
                emit(buildCharacteristicFoundGob, session.address, *index, uuid->second);
            }
        }
        break;
    case ProcedureOutcome::WriteDone:
        emit(buildWriteDoneGob, session.address);
        break;
    }
    session.becomeIdle();
}

void ConduitBg::failProcedure(int32_t connection, SessionState procedure) {
    BgSession* session = findSession(connection);
    if (session == nullptr || session->state != procedure) {
        return;
    }
    if (procedure == SessionState::LongWriting) {
        sendCommand(BgMessage::CmdAttclientExecuteWrite, connection, executeCancel);
    }
    endProcedure(*session, ProcedureOutcome::Failed);
    logPrint(LogStamp::With, "BG conduit: procedure failed on connection %d, session idle\n",
             connection);
}
