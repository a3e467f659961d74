// Handlers of the dongle's responses to the commands the conduit sends.
//
// A response with a non-zero result is logged with the message's name. A failed
// procedure command returns its session to Idle (a failed long write is cancelled on the
// device first), so one failure never leaves a connection busy until it drops.
//
// Threads: reader thread, `lock` held (ConduitBg::readCycle).
#include "conduit/bg/conduit_bg.h"
#include "conduit/bg/conduit_bg_fields.h"
#include "conduit/bgapi/bgapi_pack.h"
#include "gob/gob_events.h"
#include "log/log.h"

namespace {

// The dongle is out of memory for the write command: send it again.
constexpr uint16_t resultNoMemory = 0x0182;
constexpr uint32_t noMemoryRetryMs = 20;

// Logs a non-zero result; true when there was one.
bool failed(uint16_t result, const char* message) {
    if (result == 0) {
        return false;
    }
    logPrint(1, "bluegiga error %x in %s\n", static_cast<unsigned>(result), message);
    return true;
}

// The fields of an attclient response: connection, then the 16-bit result.
int32_t connectionOf(const uint8_t* payload) {
    return payload[0];
}
uint16_t attclientResult(const uint8_t* payload) {
    return bgU16(payload + 1);
}

} // namespace

void ConduitBg::onHelloResponse(const uint8_t* /*payload*/, size_t /*length*/) {
    // Its arrival alone matters: it resets the watchdog.
}

void ConduitBg::onDisconnectResponse(const uint8_t* payload, size_t /*length*/) {
    const int32_t connection = connectionOf(payload);
    if (!failed(bgU16(payload + 1), "ble_rsp_connection_disconnect")) {
        logPrint(1, "in ble_rsp_connection_disconnect, successful\n");
        return;
    }
    // No disconnected event will follow: the started Disconnect must not hold the queue.
    if (!gapOps.empty() && findConnection(gapOps.front().address) == connection) {
        const BleAddress address = gapOps.front().address;
        completeGapOp(GapOpType::Disconnect, &address);
    }
}

void ConduitBg::onRssiResponse(const uint8_t* payload, size_t /*length*/) {
    const BgSession* session = findSession(connectionOf(payload));
    if (session != nullptr) {
        emit(buildRssiGob, session->address, bgI8(payload + 1));
    }
}

void ConduitBg::onReadByGroupTypeResponse(const uint8_t* payload, size_t /*length*/) {
    if (failed(attclientResult(payload), "ble_rsp_attclient_read_by_group_type")) {
        failProcedure(connectionOf(payload), SessionState::FindingServices);
    }
}

void ConduitBg::onReadByTypeResponse(const uint8_t* payload, size_t /*length*/) {
    if (failed(attclientResult(payload), "ble_rsp_attclient_read_by_type")) {
        failProcedure(connectionOf(payload), SessionState::FindingChars);
    }
}

void ConduitBg::onReadByHandleResponse(const uint8_t* payload, size_t /*length*/) {
    failed(attclientResult(payload), "ble_rsp_attclient_read_by_handle");
}

void ConduitBg::onAttributeWriteResponse(const uint8_t* payload, size_t /*length*/) {
    if (failed(attclientResult(payload), "ble_rsp_attclient_attribute_write")) {
        failProcedure(connectionOf(payload), SessionState::Writing);
    }
}

void ConduitBg::onWriteCommandResponse(const uint8_t* payload, size_t /*length*/) {
    const uint16_t result = attclientResult(payload);
    if (result == resultNoMemory) {
        logPrint(1, "0x0182\n");
        sleepMs(noMemoryRetryMs);
        sendWriteHead();
        return;
    }
    failed(result, "ble_rsp_attclient_write_command"); // the chunk is given up
    if (writeQueue.empty()) {
        writeFinished(connectionOf(payload));
        return;
    }
    advanceWriteQueue();
}

void ConduitBg::onPrepareWriteResponse(const uint8_t* payload, size_t /*length*/) {
    if (failed(attclientResult(payload), "ble_rsp_attclient_prepare_write")) {
        failProcedure(connectionOf(payload), SessionState::LongWriting);
    }
}

void ConduitBg::onExecuteWriteResponse(const uint8_t* payload, size_t /*length*/) {
    if (failed(attclientResult(payload), "ble_rsp_attclient_execute_write")) {
        failProcedure(connectionOf(payload), SessionState::Executing);
    }
}

void ConduitBg::onDiscoverResponse(const uint8_t* payload, size_t /*length*/) {
    failed(bgU16(payload), "ble_rsp_gap_discover");
    completeGapOp(GapOpType::StartScan);
}

void ConduitBg::onConnectDirectResponse(const uint8_t* payload, size_t /*length*/) {
    // A refused connect will never complete: it ends now, and the queue moves on.
    if (failed(bgU16(payload), "ble_rsp_gap_connect_direct")) {
        completeGapOp(GapOpType::Connect);
    }
}

void ConduitBg::onEndProcedureResponse(const uint8_t* payload, size_t /*length*/) {
    failed(bgU16(payload), "ble_rsp_gap_end_procedure");
    if (!completeGapOp(GapOpType::StopScan)) {
        completeGapOp(GapOpType::EndConnect);
    }
}

void ConduitBg::onSetScanParametersResponse(const uint8_t* payload, size_t /*length*/) {
    if (failed(bgU16(payload), "ble_rsp_gap_set_scan_parameters")) {
        return;
    }
    state.exchange(ConduitState::Ready);
    ready.exchange(true);
    logPrint(1, "BG conduit: ready\n");
}
