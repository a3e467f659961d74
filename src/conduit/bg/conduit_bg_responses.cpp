// Handlers of the dongle's responses to the commands the conduit sends.
//
// A response with a non-zero result is logged with the message's name. A failed
// procedure command returns its session to Idle (a failed long write is cancelled on the
// device first), so one failure never leaves a connection busy until it drops.
//
// Threads: reader thread, `lock` held (ConduitBg::readCycle).
#include "conduit/bg/conduit_bg.h"
#include "conduit/bgapi/bgapi_pack.h"
#include "conduit/bgapi/bgapi_views.h"
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
    logPrint(LogStamp::With, "bluegiga error %x in %s\n", static_cast<unsigned>(result), message);
    return true;
}

} // namespace

void ConduitBg::onHelloResponse(const uint8_t* /*payload*/, size_t /*length*/) {
    // Its arrival alone matters: it resets the watchdog.
}

void ConduitBg::onDisconnectResponse(const uint8_t* payload, size_t length) {
    const BgConnectionDisconnectResponse response{payload, length};
    const int32_t connection = response.connection();
    if (!failed(response.result(), "ble_rsp_connection_disconnect")) {
        logPrint(LogStamp::With, "in ble_rsp_connection_disconnect, successful\n");
        return;
    }
    // No disconnected event will follow: the started Disconnect must not hold the queue.
    if (!gapOps.empty() && findConnection(gapOps.front().address) == connection) {
        const BleAddress address = gapOps.front().address;
        completeGapOp(GapOpType::Disconnect, &address);
    }
}

void ConduitBg::onRssiResponse(const uint8_t* payload, size_t length) {
    const BgConnectionGetRssiResponse response{payload, length};
    const BgSession* session = findSession(response.connection());
    if (session != nullptr) {
        emit(buildRssiGob, session->address, response.rssi());
    }
}

void ConduitBg::onReadByGroupTypeResponse(const uint8_t* payload, size_t length) {
    const BgAttclientReadByGroupTypeResponse response{payload, length};
    if (failed(response.result(), "ble_rsp_attclient_read_by_group_type")) {
        failProcedure(response.connection(), SessionState::FindingServices);
    }
}

void ConduitBg::onReadByTypeResponse(const uint8_t* payload, size_t length) {
    const BgAttclientReadByTypeResponse response{payload, length};
    if (failed(response.result(), "ble_rsp_attclient_read_by_type")) {
        failProcedure(response.connection(), SessionState::FindingChars);
    }
}

void ConduitBg::onReadByHandleResponse(const uint8_t* payload, size_t length) {
    const BgAttclientReadByHandleResponse response{payload, length};
    failed(response.result(), "ble_rsp_attclient_read_by_handle");
}

void ConduitBg::onAttributeWriteResponse(const uint8_t* payload, size_t length) {
    const BgAttclientAttributeWriteResponse response{payload, length};
    if (failed(response.result(), "ble_rsp_attclient_attribute_write")) {
        failProcedure(response.connection(), SessionState::Writing);
    }
}

void ConduitBg::onWriteCommandResponse(const uint8_t* payload, size_t length) {
    const BgAttclientWriteCommandResponse response{payload, length};
    const uint16_t result = response.result();
    if (result == resultNoMemory) {
        logPrint(LogStamp::With, "0x0182\n");
        sleepMs(noMemoryRetryMs);
        sendWriteHead();
        return;
    }
    failed(result, "ble_rsp_attclient_write_command"); // the chunk is given up
    if (writeQueue.empty()) {
        writeFinished(response.connection());
        return;
    }
    advanceWriteQueue();
}

void ConduitBg::onPrepareWriteResponse(const uint8_t* payload, size_t length) {
    const BgAttclientPrepareWriteResponse response{payload, length};
    if (failed(response.result(), "ble_rsp_attclient_prepare_write")) {
        failProcedure(response.connection(), SessionState::LongWriting);
    }
}

void ConduitBg::onExecuteWriteResponse(const uint8_t* payload, size_t length) {
    const BgAttclientExecuteWriteResponse response{payload, length};
    if (failed(response.result(), "ble_rsp_attclient_execute_write")) {
        failProcedure(response.connection(), SessionState::Executing);
    }
}

void ConduitBg::onDiscoverResponse(const uint8_t* payload, size_t length) {
    const BgGapDiscoverResponse response{payload, length};
    failed(response.result(), "ble_rsp_gap_discover");
    completeGapOp(GapOpType::StartScan);
}

void ConduitBg::onConnectDirectResponse(const uint8_t* payload, size_t length) {
    const BgGapConnectDirectResponse response{payload, length};
    // A refused connect will never complete: it ends now, and the queue moves on.
    if (failed(response.result(), "ble_rsp_gap_connect_direct")) {
        completeGapOp(GapOpType::Connect);
    }
}

void ConduitBg::onEndProcedureResponse(const uint8_t* payload, size_t length) {
    const BgGapEndProcedureResponse response{payload, length};
    failed(response.result(), "ble_rsp_gap_end_procedure");
    if (!completeGapOp(GapOpType::StopScan)) {
        completeGapOp(GapOpType::EndConnect);
    }
}

void ConduitBg::onSetScanParametersResponse(const uint8_t* payload, size_t length) {
    const BgGapSetScanParametersResponse response{payload, length};
    if (failed(response.result(), "ble_rsp_gap_set_scan_parameters")) {
        return;
    }
    state.exchange(ConduitState::Ready);
    ready.exchange(true);
    logPrint(LogStamp::With, "BG conduit: ready\n");
}
