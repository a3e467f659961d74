// The reader side of ConduitBg: opening the dongle (find, open, reset, reopen, scan
// parameters), one reader cycle (GAP step, header, payload, handler, watchdog), closing,
// and the loop the conduit thread runs.
//
// Threads: all of it runs on the reader thread. init holds `lock` throughout, except
// while the reset is written (a wedged port blocks that write up to its bound); readCycle
// holds it for the GAP step and from the end of the header read to its return, so that an
// operation can run only while the reader waits for a header; close holds it throughout.
#include "conduit/bg/conduit_bg.h"
#include "conduit/bgapi/bgapi_dispatch.h"
#include "conduit/bgapi/bgapi_pack.h"
#include "conduit/bgapi/bgapi_payload.h"
#include "conduit/serial/serial_io.h"
#include "gob/gob_events.h"
#include "log/log.h"

#include <array>

namespace {

constexpr uint32_t openingCycleMs = 100;
constexpr int openingCycles = 100;
constexpr int reopenAttempts = 10;
constexpr uint32_t reopenWaitMs = 500;
constexpr uint32_t runningCycleMs = 1000;
constexpr uint32_t retryWaitMs = 1000;
constexpr uint32_t retrySliceMs = 100; // how soon a stop ends the wait between openings
constexpr uint32_t silenceLimitMs = 5000;
constexpr uint32_t helloAfterMs = 1000;

// gap_set_scan_parameters: 2000 × 0.625 ms interval and window, active scanning.
constexpr uint16_t scanInterval = 2000;
constexpr uint16_t scanWindow = 2000;
constexpr uint8_t activeScanning = 1;
constexpr uint8_t bootNormally = 0;

constexpr size_t headerSize = 4;
constexpr size_t payloadCapacity = 256;
// A kick that found no read pending ends the next read at once; a payload read may meet
// one such stale kick.
constexpr int payloadReadTries = 2;

} // namespace

bool ConduitBg::init() {
    readerThread.claim();
    const LockGuard guard(lock);
    if (activeConduit != nullptr) {
        logPrint(LogStamp::With, "BG conduit: already initialized\n");
        return false;
    }
    logPrint(LogStamp::With, "BG conduit: initing\n");
    activeConduit = this;
    if (!openDongle()) {
        return false;
    }
    silentMs = 0;
    lastHelloMs = 0;
    logPrint(LogStamp::With, "BG conduit: setting scan parameters\n");
    sendCommand(BgMessage::CmdGapSetScanParameters, scanInterval, scanWindow, activeScanning);
    for (int cycle = 0; cycle < openingCycles && !serialPortFailed(); ++cycle) {
        readCycle(openingCycleMs);
        if (ready.load()) {
            becomeReady();
            return true;
        }
    }
    logPrint(LogStamp::With, "BG conduit: couldn't set scan parameters\n");
    closeSerialPort();
    return failInit(ConduitState::NotReady);
}

bool ConduitBg::openDongle() {
    logPrint(LogStamp::With, "BG conduit: finding serial port\n");
    const std::string name = ports.find();
    if (name.empty()) {
        logPrint(LogStamp::With, "BG conduit: couldn't find serial port\n");
        return failInit(ConduitState::Failed);
    }
    bgOutput = writePacket;
    logPrint(LogStamp::With, "BG conduit: opening serial port\n");
    serialPort = ports.open(name);
    if (!serialPort) {
        logPrint(LogStamp::With, "BG conduit: couldn't open serial port\n");
        const std::string reason = ports.openFailure();
        if (!reason.empty()) {
            logPrint(LogStamp::With, "BG conduit: the system's reason: %s\n", reason.c_str());
        }
        return failInit(ConduitState::Failed);
    }
    logPrint(LogStamp::With, "BG conduit: resetting\n");
    {
        // A port that does not drain blocks this write up to its bound; the conduit is not
        // ready yet, so operations meanwhile are refused at once instead of waiting.
        const LockRelease unlocked(lock);
        sendCommand(BgMessage::CmdSystemReset, bootNormally);
    }
    if (serialPortFailed()) {
        closeSerialPort(); // a dongle that does not take its reset is not opened again now
        return failInit(ConduitState::Failed);
    }
    closeSerialPort();
    for (int attempt = 0; attempt < reopenAttempts && !serialPort; ++attempt) {
        sleepMs(reopenWaitMs);
        logPrint(LogStamp::With, "BG conduit: opening serial port\n");
        serialPort = ports.open(name);
    }
    if (!serialPort) {
        logPrint(LogStamp::With, "BG conduit: couldn't reopen serial port\n");
        return failInit(ConduitState::Failed);
    }
    return true;
}

bool ConduitBg::failInit(ConduitState failedState) {
    activeConduit = nullptr;
    state.exchange(failedState);
    return false;
}

void ConduitBg::becomeReady() {
    setState(ConduitState::Ready);
    if (scanWanted) {
        logPrint(LogStamp::With, "BG conduit: starting the scan that clients still want\n");
        gapOps.emplace_back(GapOpType::StartScan);
    }
}

ConduitBg::CycleEnd ConduitBg::readCycle(uint32_t timeoutMs) {
    ASSERT_OWNING_THREAD(readerThread);
    {
        const LockGuard guard(lock);
        if (serialPortFailed()) {
            return givePortUp();
        }
        runGapStep();
        startWaitingRequests();
    }
    std::array<uint8_t, headerSize> header{};
    const int result = serialRead(headerSize, header.data(), timeoutMs);
    const LockGuard guard(lock);
    if (serialPortFailed()) {
        return givePortUp();
    }
    if (result == serialReadCancelled) {
        return CycleEnd::Handled;
    }
    if (result == serialReadEmpty) {
        return watchSilence(timeoutMs);
    }
    if (result < 0) {
        logPrint(LogStamp::With, "BG conduit: reading header failed. Error code: %x\n",
                 static_cast<unsigned>(result));
        setState(ConduitState::Failed);
        return CycleEnd::Reopen;
    }
    return receiveMessage(header.data(), timeoutMs);
}

ConduitBg::CycleEnd ConduitBg::givePortUp() {
    logPrint(LogStamp::With, "BG conduit: the serial port does not take writes, giving it up\n");
    setState(ConduitState::Failed);
    return CycleEnd::Reopen;
}

ConduitBg::CycleEnd ConduitBg::watchSilence(uint32_t timeoutMs) {
    silentMs += timeoutMs;
    if (silentMs > silenceLimitMs) {
        logPrint(LogStamp::With, "BG conduit: seems like dongle hasn't responded for %d ms\n",
                 static_cast<int>(silentMs));
        setState(ConduitState::Failed);
        return CycleEnd::Reopen;
    }
    if (silentMs - lastHelloMs > helloAfterMs) {
        sendCommand(BgMessage::CmdSystemHello);
        lastHelloMs = silentMs;
    }
    return CycleEnd::Silent;
}

ConduitBg::CycleEnd ConduitBg::receiveMessage(const uint8_t* header, uint32_t timeoutMs) {
    const size_t length = bgPayloadLength(header);
    std::array<uint8_t, payloadCapacity> payload{};
    if (length > payload.size()) {
        logPrint(LogStamp::With,
                 "BG conduit: message of %u bytes does not fit the receive buffer\n",
                 static_cast<unsigned>(length));
        setState(ConduitState::NotReady);
        return CycleEnd::Reopen;
    }
    if (length > 0) {
        int result = serialReadCancelled;
        for (int tries = 0; tries < payloadReadTries && result == serialReadCancelled; ++tries) {
            result = serialRead(static_cast<uint32_t>(length), payload.data(), timeoutMs);
        }
        if (result <= 0) {
            logPrint(LogStamp::With, "BG conduit: reading data failed. Error code: %x\n",
                     static_cast<unsigned>(result));
            setState(ConduitState::Failed);
            return CycleEnd::Reopen;
        }
    }
    const MessageDef* def = findMessage(bgHeaderWord(header));
    if (def == nullptr) {
        logPrint(LogStamp::With, "BG conduit: unknown message received\n");
        setState(ConduitState::NotReady);
        return CycleEnd::Reopen;
    }
    if (payloadAccepted(*def, payload.data(), length)) {
        handlers().run(*this, *def, payload.data(), length);
        startWaitingRequests(); // a procedure that ended lets the next request start
    }
    silentMs = 0;
    lastHelloMs = 0;
    return CycleEnd::Handled;
}

bool ConduitBg::payloadAccepted(const MessageDef& def, const uint8_t* payload,
                                size_t length) const {
    switch (checkPayload(def, payload, length)) {
    case BgPayloadFit::Whole:
        return true;
    case BgPayloadFit::ArrayPastEnd:
        if (def.message == BgMessage::EvtGapScanResponse) {
            return true; // its handler cuts the data to what arrived
        }
        logPrint(LogStamp::With,
                 "BG conduit: %s dropped, its data run past the %u bytes received\n", def.name,
                 static_cast<unsigned>(length));
        return false;
    case BgPayloadFit::FixedPartMissing:
        logPrint(LogStamp::With, "BG conduit: %s dropped, %u bytes are less than its fixed part\n",
                 def.name, static_cast<unsigned>(length));
        return false;
    }
    return false;
}

void ConduitBg::close() {
    ASSERT_OWNING_THREAD(readerThread);
    const LockGuard guard(lock);
    ready.exchange(false);
    closeSerialPort();
    for (const auto& [address, connection] : connections) {
        emit(buildDisconnectedGob, address, static_cast<uint8_t>(DisconnectReason::Other));
    }
    connections.clear();
    sessions.clear();
    gapOps.clear();
    writeQueue.clear();
    if (activeConduit == this) {
        activeConduit = nullptr;
    }
    // A client that arrives during the next opening is not told "ready".
    ConduitState wasReady = ConduitState::Ready;
    state.compare_exchange_strong(wasReady, ConduitState::NotReady);
}

void ConduitBg::runReaderLoop(const std::function<bool()>& stopRequested) {
    while (!stopRequested()) {
        while (!stopRequested() && !init()) {
            sleepBeforeRetry(stopRequested);
        }
        while (!stopRequested() && readCycle(runningCycleMs) != CycleEnd::Reopen) {
        }
        close();
    }
}

void ConduitBg::sleepBeforeRetry(const std::function<bool()>& stopRequested) {
    for (uint32_t slept = 0; slept < retryWaitMs && !stopRequested(); slept += retrySliceMs) {
        sleepMs(retrySliceMs);
    }
}
