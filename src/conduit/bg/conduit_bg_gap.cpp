// The GAP queue: the four GAP operations append to gapOps and wake the reader; the
// reader's GAP step starts the head; the handlers complete it. Each client may have at
// most maxGapOpsPerClient operations queued.
//
// The dongle runs one GAP procedure at a time, so only the head is ever started. A
// started Connect that the dongle does not complete within its time limit is abandoned:
// gap_end_procedure then takes the dongle out of its connecting state before anything
// else starts.
//
// Threads: the operations run on the mux thread, runGapStep and completeGapOp on the
// reader thread; all under `lock`.
#include "conduit/bg/conduit_bg.h"
#include "conduit/bgapi/bgapi_pack.h"
#include "conduit/serial/serial_io.h"
#include "gob/gob_events.h"
#include "log/log.h"

#include <algorithm>

namespace {

// gap_discover mode: observation, every advertising device is reported.
constexpr uint8_t discoverObservation = 2;

void logAddress(const char* text, const BleAddress& address) {
    logPrint(LogStamp::With, "%s", text);
    logHex(address.bytes.data(), static_cast<uint32_t>(address.bytes.size()));
    logPrint(LogStamp::Without, "\n");
}

} // namespace

bool ConduitBg::startScan() {
    ASSERT_HELD(lock);
    if (!isReadyFor("startScan")) {
        return false;
    }
    if (!queueGapOp(GapOp(GapOpType::StartScan))) {
        return false;
    }
    scanWanted = true;
    return true;
}

bool ConduitBg::stopScan() {
    ASSERT_HELD(lock);
    if (!isReadyFor("stopScan")) {
        return false;
    }
    if (!queueGapOp(GapOp(GapOpType::StopScan))) {
        return false;
    }
    scanWanted = false;
    return true;
}

bool ConduitBg::connect(const BleAddress& address, uint32_t connIntervalMin,
                        uint32_t connIntervalMax, uint32_t supervisionTimeout,
                        uint32_t slaveLatency) {
    ASSERT_HELD(lock);
    if (!isReadyFor("connect")) {
        return false;
    }
    GapOp op(GapOpType::Connect, address);
    op.connIntervalMin = connIntervalMin;
    op.connIntervalMax = connIntervalMax;
    op.supervisionTimeout = supervisionTimeout;
    op.slaveLatency = slaveLatency;
    if (!queueGapOp(op)) {
        return false;
    }
    if (scanWanted) {
        gapOps.emplace_back(GapOpType::StartScan); // the service's: connecting ends a scan
    }
    return true;
}

// An address without a connection, and without a connect on its way, is answered at once:
// queueing it would only make everybody else's GAP operations wait behind it.
bool ConduitBg::disconnect(const BleAddress& address) {
    ASSERT_HELD(lock);
    if (!isReadyFor("disconnect")) {
        return false;
    }
    if (!findConnection(address) && !connectQueuedFor(address)) {
        logAddress("BG conduit: disconnecting address: ", address);
        logPrint(LogStamp::With, "BG conduit: Zuna was not connected to this QAP\n");
        emit(buildDisconnectedGob, address, static_cast<uint8_t>(DisconnectReason::Local));
        return true;
    }
    return queueGapOp(GapOp(GapOpType::Disconnect, address));
}

bool ConduitBg::queueGapOp(GapOp op) {
    op.requester = requester;
    if (requester != 0 && gapOpsOf(gapOps, requester) >= maxGapOpsPerClient) {
        logPrint(LogStamp::With,
                 "BG conduit: %u GAP operations queued for this client, request refused\n",
                 static_cast<unsigned>(maxGapOpsPerClient));
        return false;
    }
    gapOps.push_back(op);
    kickReader();
    return true;
}

bool ConduitBg::connectQueuedFor(const BleAddress& address) const {
    return std::any_of(gapOps.begin(), gapOps.end(), [&address](const GapOp& op) {
        return op.type == GapOpType::Connect && op.address == address;
    });
}

void ConduitBg::runGapStep() {
    if (gapOps.empty()) {
        return;
    }
    const GapOp& head = gapOps.front();
    if (!head.started) {
        startGapHead();
        return;
    }
    if (head.type != GapOpType::Connect || !connectExpired(head, clockSeconds())) {
        return; // waits for its completion
    }
    gapOps.pop_front();
    logPrint(LogStamp::With, "BG conduit: aborted gap op connect\n");
    gapOps.push_front(GapOp(GapOpType::EndConnect));
    startGapHead();
}

void ConduitBg::startGapHead() {
    GapOp& head = gapOps.front();
    switch (head.type) {
    case GapOpType::StartScan:
        logPrint(LogStamp::With, "BG conduit: GAP op starting scan\n");
        sendCommand(BgMessage::CmdGapDiscover, discoverObservation);
        head.started = true;
        return;
    case GapOpType::StopScan:
        logPrint(LogStamp::With, "BG conduit: GAP op stopping scan\n");
        sendCommand(BgMessage::CmdGapEndProcedure);
        head.started = true;
        return;
    case GapOpType::EndConnect:
        logPrint(LogStamp::With, "BG conduit: GAP op ending the abandoned connect\n");
        sendCommand(BgMessage::CmdGapEndProcedure);
        head.started = true;
        return;
    case GapOpType::Connect:
        logAddress("BG conduit: GAP op connecting to address: ", head.address);
        sendCommand(BgMessage::CmdGapConnectDirect, head.address.bytes.data(),
                    addressTypes.typeOf(head.address), head.connIntervalMin, head.connIntervalMax,
                    head.supervisionTimeout, head.slaveLatency);
        head.started = true;
        head.startTime = clockSeconds();
        return;
    case GapOpType::Disconnect: {
        logAddress("BG conduit: GAP op disconnecting address: ", head.address);
        const std::optional<int32_t> connection = findConnection(head.address);
        if (connection) {
            logPrint(LogStamp::With, "BG conduit: asking dongle to disconnect\n");
            sendCommand(BgMessage::CmdConnectionDisconnect, *connection);
            head.started = true;
            return;
        }
        logPrint(LogStamp::With, "BG conduit: Zuna was not connected to this QAP\n");
        const BleAddress address = head.address;
        gapOps.pop_front();
        emit(buildDisconnectedGob, address, static_cast<uint8_t>(DisconnectReason::Local));
        return;
    }
    }
}

bool ConduitBg::completeGapOp(GapOpType type, const BleAddress* address) {
    if (gapOps.empty()) {
        return false;
    }
    const GapOp& head = gapOps.front();
    if (!head.started || head.type != type || (address != nullptr && head.address != *address)) {
        return false;
    }
    logPrint(LogStamp::With, "%s", gapOpCompletedText(type));
    gapOps.pop_front();
    return true;
}
