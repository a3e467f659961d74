// ConduitBg: the conduit that drives the BGAPI dongle behind a serial port.
//
// What lives where:
//   conduit_bg.cpp             construction, state, event posting, shared look-ups
//   conduit_bg_operations.cpp  the attribute operations and characteristic look-ups
//   conduit_bg_writes.cpp      write procedures and the process-wide write queue
//   conduit_bg_gap.cpp         the GAP operations and the GAP queue's step
//   conduit_bg_waiting.cpp     requests waiting for a busy session, clients that leave
//   conduit_bg_dispatch.cpp    which handler runs for which received message
//   conduit_bg_responses.cpp   handlers of the dongle's responses
//   conduit_bg_events.cpp      handlers of the dongle's events
//   conduit_bg_reader.cpp      opening the dongle, the reader cycle, closing, the loop
//
// Threads:
// - The mux thread calls the Conduit operations, always holding `lock`.
// - The reader thread runs runReaderLoop: init, readCycle and close. It holds `lock` for
//   the whole of init, for each GAP step, and from the end of each header read until the
//   message is handled; the handlers and everything they call run under it.
// - getType, getState, `ready` and `state` need no lock (atomics).
// Locks: `lock` guards every member below except `ready` and `state`, and also the
// process-wide writeQueue and activeConduit. Events are posted with `lock` held; the
// Mux's eventLock is taken under it, never the other way round.
//
// Ownership: the conduit owns its maps, sessions and GAP queue by value. The Mux and the
// port source are not owned and outlive the conduit.
#pragma once

#include "conduit/bg/address_types.h"
#include "conduit/bg/bg_session.h"
#include "conduit/bg/gap_queue.h"
#include "conduit/bgapi/bgapi_table.h"
#include "conduit/conduit.h"
#include "conduit/serial/serial_port.h"
#include "gob/gob.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <optional>
#include <vector>

template <typename Owner> class BgHandlerTable;

class ConduitBg : public Conduit {
public:
    // Starts not ready (state 2); touches no port until the reader thread runs init.
    ConduitBg(Mux* mux, SerialPortSource& ports);
    virtual ~ConduitBg();
    ConduitBg(const ConduitBg&) = delete;
    ConduitBg& operator=(const ConduitBg&) = delete;

    // --- Conduit operations (mux thread, `lock` held by the caller) ---------------------
    int32_t getType() override;
    int32_t getState() override;
    bool startScan() override;
    bool stopScan() override;
    bool connect(const BleAddress& address, uint32_t connIntervalMin, uint32_t connIntervalMax,
                 uint32_t supervisionTimeout, uint32_t slaveLatency) override;
    bool findServices(const BleAddress& address) override;
    bool findCharsAndDescs(const BleAddress& address,
                           const std::vector<UuidRecord>& uuids) override;
    bool disconnect(const BleAddress& address) override;
    bool read(const BleAddress& address, uint8_t index) override;
    bool write(const BleAddress& address, uint8_t index, const uint8_t* data, uint32_t length,
               bool withResponse) override;
    bool notify(const BleAddress& address, uint8_t index) override;
    bool indicate(const BleAddress& address, uint8_t index) override;
    bool unsubscribe(const BleAddress& address, uint8_t index) override;
    bool getRssi(const BleAddress& address) override;
    void forgetRequester(uint64_t client) override;

    // Stores the state word and posts a GobStatus with it.
    void setState(int32_t value);

    // --- Reader thread ------------------------------------------------------------------
    // Opens the dongle, resets it, reopens it and sets the scan parameters: true once the
    // dongle is ready. Holds `lock` throughout.
    bool init();
    // One reader cycle: 0 when a message was handled (or dropped) or the read was
    // cancelled; -1 when nothing arrived; 1 when the port must be closed and opened again
    // (also when a write has failed it).
    int readCycle(uint32_t timeoutMs);
    // Closes the port and drops every connection (each reported lost), the GAP queue and
    // the write queue.
    void close();
    // Opens, reads and reopens until `stopRequested` returns true, then closes.
    void runReaderLoop(const std::function<bool()>& stopRequested);

    // --- GAP queue (under `lock`) -------------------------------------------------------
    // Starts the head of gapOps, or abandons a started Connect past its time limit.
    void runGapStep();
    // Removes the head when it is a started operation of `type`; for Connect and
    // Disconnect only when it is for `address`. True when it did.
    bool completeGapOp(GapOpType type, const BleAddress* address = nullptr);

    // --- Waiting requests (under `lock`) ------------------------------------------------
    // Starts the waiting requests of every Idle session, oldest first, until each session
    // is busy again or has none left. The reader runs it after every handled message.
    void startWaitingRequests();

    // --- Procedures (under `lock`) ------------------------------------------------------
    // Sends attclient_read_by_type for the UUID at the back of pendingUuids; false when
    // none is pending. The UUID stays pending until its look-up completes.
    bool lookUpNextCharacteristic(BgSession& session, int32_t connection);
    // Records a characteristic found by the running look-up under the UUID being looked up.
    void characteristicFound(BgSession& session, int32_t handle);
    // Appends a write command to writeQueue and sends it when no other chunk is waiting
    // for its response.
    void enqueueWriteChunk(int32_t connection, int32_t handle, const uint8_t* data, uint32_t length,
                           WriteChunkKind kind);
    // Sends the head of writeQueue (it stays queued until its response).
    void sendWriteHead();
    // The head's response has come: removes it, carries its chain on or ends it, and sends
    // the new head.
    void advanceWriteQueue();
    // Queues the next piece of the session's unacknowledged write after `answered`, or
    // ends the write when nothing is left.
    void continueChain(const WriteChunk& answered, BgSession& session);
    // Ends the session's write: Idle, and a GobWriteDone with its address.
    void writeFinished(int32_t connection);
    // Sends the next prepared-write piece (at most 18 bytes) of the session's writeBuffer.
    void sendNextPrepareWrite(int32_t connection, int32_t handle, BgSession& session);

    std::optional<int32_t> findConnection(const BleAddress& address) const;
    BgSession* findSession(int32_t connection);

    std::atomic<bool> ready{false};                   // the dongle accepted the scan parameters
    std::atomic<int32_t> state{conduitStateNotReady}; // 0 ready, 1 failed, 2 not ready
    std::map<BleAddress, int32_t> connections;        // live connections: address -> handle
    std::map<int32_t, BgSession> sessions;            // one session per live connection
    bool scanWanted = false;                          // a scan is asked for and not stopped
    std::list<GapOp> gapOps;                          // the GAP queue; only its head runs
    uint32_t silentMs = 0;                            // read timeouts since the last message
    uint32_t lastHelloMs = 0;                         // silentMs when system_hello was last sent
    // The address type each device advertised with (gap_scan_response), for the type
    // gap_connect_direct names: a device with a random address answers only a connect
    // that says so. A device never seen in a scan is connected as public.
    AddressTypes addressTypes;

protected:
    // Seams for tests: where events go, the clock of the connect time limit (whole
    // seconds), and the reader thread's sleeps.
    virtual void post(const Gob& gob);
    virtual int64_t clockSeconds();
    virtual void sleepMs(uint32_t milliseconds);

private:
    using Handlers = BgHandlerTable<ConduitBg>;
    static const Handlers& handlers();

    // True when ready; otherwise logs the operation's not-ready line.
    bool isReadyFor(const char* operation) const;
    // Queues `op` for the current requester: false, refused, when that client has
    // maxGapOpsPerClient operations queued already.
    bool queueGapOp(GapOp op);
    // True when a Connect for `address` is queued or running.
    bool connectQueuedFor(const BleAddress& address) const;
    // Queues a request for a busy session: true, or false (refused) when
    // maxWaitingPerDevice requests wait already.
    bool waitForIdle(BgSession& session, WaitingRequest request);
    // Runs one waiting request as its client's call.
    void startWaiting(const BleAddress& address, const WaitingRequest& request);
    void startGapHead();
    bool writeConfiguration(const char* operation, const BleAddress& address, uint8_t index,
                            uint8_t value);
    // Drops the chunks of a connection that are still waiting to be sent.
    void dropWaitingChunks(int32_t connection);
    // Ends a procedure that the dongle failed, when `session` is still running it.
    void failProcedure(int32_t connection, SessionState procedure);
    // Becoming ready posts state 0 and restarts a wanted scan; a failed opening forgets
    // activeConduit and stores its state without posting it.
    void becomeReady();
    bool failInit(int32_t failedState);
    // Finds, opens, resets and reopens the dongle's port.
    bool openDongle();
    // The reader cycle's end when a write has failed the port: state failed, and 1.
    int givePortUp();
    // The reader cycle after an empty header read, and after a header.
    int watchSilence(uint32_t timeoutMs);
    int receiveMessage(const uint8_t* header, uint32_t timeoutMs);
    bool payloadAccepted(const MessageDef& def, const uint8_t* payload, size_t length) const;
    void sleepBeforeRetry(const std::function<bool()>& stopRequested);

    template <typename Build, typename... Fields> void emit(Build build, const Fields&... fields) {
        Gob gob;
        if (build(gob, fields...) == 0) {
            post(gob);
        }
    }

    // Handlers of the dongle's messages (conduit_bg_responses.cpp, conduit_bg_events.cpp):
    // each gets a payload that holds at least its message's fixed part.
    void onHelloResponse(const uint8_t* payload, size_t length);
    void onDisconnectResponse(const uint8_t* payload, size_t length);
    void onRssiResponse(const uint8_t* payload, size_t length);
    void onReadByGroupTypeResponse(const uint8_t* payload, size_t length);
    void onReadByTypeResponse(const uint8_t* payload, size_t length);
    void onReadByHandleResponse(const uint8_t* payload, size_t length);
    void onAttributeWriteResponse(const uint8_t* payload, size_t length);
    void onWriteCommandResponse(const uint8_t* payload, size_t length);
    void onPrepareWriteResponse(const uint8_t* payload, size_t length);
    void onExecuteWriteResponse(const uint8_t* payload, size_t length);
    void onDiscoverResponse(const uint8_t* payload, size_t length);
    void onConnectDirectResponse(const uint8_t* payload, size_t length);
    void onEndProcedureResponse(const uint8_t* payload, size_t length);
    void onSetScanParametersResponse(const uint8_t* payload, size_t length);
    void onConnectionStatus(const uint8_t* payload, size_t length);
    void onConnectionDisconnected(const uint8_t* payload, size_t length);
    void onProcedureCompleted(const uint8_t* payload, size_t length);
    void onGroupFound(const uint8_t* payload, size_t length);
    void onAttributeValue(const uint8_t* payload, size_t length);
    void onScanResponse(const uint8_t* payload, size_t length);
    void completeLookUp(BgSession& session, int32_t connection);
    void completeProcedure(BgSession& session, int32_t connection, uint16_t handle);

    SerialPortSource& ports; // where the dongle's port is found and opened
};

// The conduit that init has opened, or null (under its `lock`).
extern ConduitBg* activeConduit;

// Write commands not yet answered by the dongle, oldest first; the head is the one sent
// and waiting for its response (under the active conduit's `lock`).
extern std::list<WriteChunk> writeQueue;

// The disconnection reason of a GobDisconnected for a BGAPI reason code.
uint8_t disconnectReasonCode(uint16_t bgapiReason);
