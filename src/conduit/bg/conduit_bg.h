// ConduitBg: the conduit that drives the BGAPI dongle behind a serial port.
//
// What lives where:
//   conduit_bg.cpp             construction, state, event posting, the operations' look-up
//                              chain and the one end of every procedure
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
// - The mux thread calls the Conduit operations, always holding `lock` (each operation
//   checks that its caller holds it).
// - The reader thread runs runReaderLoop: init, readCycle and close. init records the
//   thread it runs on as the reader thread; readCycle and close check that they run on
//   it. The reader holds `lock` for the whole of init, for each GAP step, and from the
//   end of each header read until the message is handled; the handlers and everything
//   they call run under it.
// - getType, getState, `ready` and `state` need no lock (atomics).
// Locks: `lock` guards every member below except `ready`, `state` and `readerThread`
// (GUARDED_BY), and also the process-wide writeQueue and activeConduit, which the
// analysis cannot tie to one conduit's lock. Events are posted with `lock` held; the
// sink's lock (the Mux's eventLock) is taken under it, never the other way round.
//
// Ownership: the conduit owns its maps, sessions and GAP queue by value. The event sink
// and the port source are not owned and outlive the conduit.
//
// Only the operations and the reader thread's entries are public; tests reach the rest
// through ConduitBgTestPeer (tests/conduit/conduit_bg_test_peer.h).
#pragma once

#include "base/thread_check.h"
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
    ConduitBg(EventSink* sink, SerialPortSource& ports);
    virtual ~ConduitBg();
    ConduitBg(const ConduitBg&) = delete;
    ConduitBg& operator=(const ConduitBg&) = delete;

    // --- Conduit operations (mux thread, `lock` held by the caller) ---------------------
    ConduitKind getType() override;
    ConduitState getState() override;
    bool startScan() override REQUIRES(lock);
    bool stopScan() override REQUIRES(lock);
    bool connect(const BleAddress& address, uint32_t connIntervalMin, uint32_t connIntervalMax,
                 uint32_t supervisionTimeout, uint32_t slaveLatency) override REQUIRES(lock);
    bool findServices(const BleAddress& address) override REQUIRES(lock);
    bool findCharsAndDescs(const BleAddress& address, const std::vector<UuidRecord>& uuids) override
        REQUIRES(lock);
    bool disconnect(const BleAddress& address) override REQUIRES(lock);
    bool read(const BleAddress& address, uint8_t index) override REQUIRES(lock);
    bool write(const BleAddress& address, uint8_t index, const uint8_t* data, uint32_t length,
               bool withResponse) override REQUIRES(lock);
    bool notify(const BleAddress& address, uint8_t index) override REQUIRES(lock);
    bool indicate(const BleAddress& address, uint8_t index) override REQUIRES(lock);
    bool unsubscribe(const BleAddress& address, uint8_t index) override REQUIRES(lock);
    bool getRssi(const BleAddress& address) override REQUIRES(lock);
    void forgetRequester(uint64_t client) override REQUIRES(lock);

    // --- Reader thread ------------------------------------------------------------------
    // Opens the dongle, resets it, reopens it and sets the scan parameters: true once the
    // dongle is ready. Holds `lock` throughout, except while writing the reset. Records the calling
    // thread as the reader.
    bool init();
    // How one reader cycle ended.
    enum class CycleEnd {
        Handled, // a message was handled (or dropped), or the read was cancelled
        Silent,  // nothing arrived
        Reopen,  // the port must be closed and opened again (also when a write failed it)
    };
    CycleEnd readCycle(uint32_t timeoutMs);
    // Closes the port and drops every connection (each reported lost), the GAP queue and
    // the write queue.
    void close();
    // Opens, reads and reopens until `stopRequested` returns true, then closes.
    void runReaderLoop(const std::function<bool()>& stopRequested);

protected:
    // Seams for tests: where events go, the clock of the connect time limit (whole
    // seconds), and the reader thread's sleeps.
    virtual void post(const Gob& gob);
    virtual int64_t clockSeconds();
    virtual void sleepMs(uint32_t milliseconds);

private:
    friend class ConduitBgTestPeer;
    using Handlers = BgHandlerTable<ConduitBg>;
    static const Handlers& handlers();

    // --- The operations' look-up chain (conduit_bg.cpp) ---------------------------------
    // How far an operation looks: to the connection of the address, to its session, or to
    // the value handle of a characteristic index on that session.
    enum class TargetLink { Connection, Session, Characteristic };
    // What a missing link means for an operation. Every operation is refused (false) when
    // the conduit is not ready and dropped (true) when the address has no connection.
    // The kinds differ after that:
    enum class OperationKind {
        Procedure,    // runs on the session (findServices, findCharsAndDescs, write): a
                      // missing session or characteristic refuses it
        Command,      // one command (read, getRssi): a missing session or characteristic
                      // drops it, logged
        Subscription, // notify, indicate, unsubscribe: as Command, but a missing connection
                      // is dropped without a log line
    };
    struct OperationTarget {
        std::optional<bool> answer; // set when the operation ends here, with its result
        int32_t connection = 0;
        BgSession* session = nullptr; // from TargetLink::Session on
        int32_t handle = 0;           // TargetLink::Characteristic only
    };
    // Runs the chain isReadyFor, findConnection, findSession, charHandle as far as `link`,
    // logging "BG conduit: in <operation>, ..." for the link that is missing.
    OperationTarget lookUpTarget(const char* operation, OperationKind kind,
                                 const BleAddress& address, TargetLink link, uint8_t index = 0)
        REQUIRES(lock);
    // True when ready; otherwise logs the operation's not-ready line.
    bool isReadyFor(const char* operation) const;
    std::optional<int32_t> findConnection(const BleAddress& address) const REQUIRES(lock);
    BgSession* findSession(int32_t connection) REQUIRES(lock);

    // --- The end of every procedure (conduit_bg.cpp) ------------------------------------
    // What the requester of a procedure is told when it ends.
    enum class ProcedureOutcome {
        Failed,               // nothing, as for every failed procedure
        ServicesFound,        // one GobServiceFound per service known on the session
        CharacteristicsFound, // one GobCharacteristicFound per handle this look-up found
        WriteDone,            // one GobWriteDone
    };
    // Ends the session's procedure: posts its outcome, then returns the session to Idle.
    void endProcedure(BgSession& session, ProcedureOutcome outcome) REQUIRES(lock);

    // --- Waiting requests (conduit_bg_waiting.cpp) --------------------------------------
    // Starts the waiting requests of every Idle session, oldest first, until each session
    // is busy again or has none left. The reader runs it after every handled message.
    void startWaitingRequests() REQUIRES(lock);
    // Queues a request for a busy session: true, or false (refused) when
    // maxWaitingPerDevice requests wait already.
    bool waitForIdle(BgSession& session, WaitingRequest request) REQUIRES(lock);
    // Runs one waiting request as its client's call.
    void startWaiting(const BleAddress& address, const WaitingRequest& request) REQUIRES(lock);
    // Ends a procedure that the dongle failed, when `session` is still running it.
    void failProcedure(int32_t connection, SessionState procedure) REQUIRES(lock);

    // --- State (conduit_bg.cpp) ---------------------------------------------------------
    // Stores the state word and posts a GobStatus with it.
    void setState(ConduitState value) REQUIRES(lock);

    // --- GAP queue (conduit_bg_gap.cpp; reader thread for the step and completion) ------
    // Starts the head of gapOps, or abandons a started Connect past its time limit.
    void runGapStep() REQUIRES(lock);
    // Removes the head when it is a started operation of `type`; for Connect and
    // Disconnect only when it is for `address`. True when it did.
    bool completeGapOp(GapOpType type, const BleAddress* address = nullptr) REQUIRES(lock);
    // Queues `op` for the current requester: false, refused, when that client has
    // maxGapOpsPerClient operations queued already.
    bool queueGapOp(GapOp op) REQUIRES(lock);
    // True when a Connect for `address` is queued or running.
    bool connectQueuedFor(const BleAddress& address) const REQUIRES(lock);
    void startGapHead() REQUIRES(lock);

    // --- Procedures (conduit_bg_operations.cpp, conduit_bg_writes.cpp) ------------------
    // Sends attclient_read_by_type for the UUID at the back of pendingUuids; false when
    // none is pending. The UUID stays pending until its look-up completes.
    bool lookUpNextCharacteristic(BgSession& session, int32_t connection) REQUIRES(lock);
    // Records a characteristic found by the running look-up under the UUID being looked up.
    void characteristicFound(BgSession& session, int32_t handle) REQUIRES(lock);
    bool writeConfiguration(const char* operation, const BleAddress& address, uint8_t index,
                            uint8_t value) REQUIRES(lock);
    // Appends a write command to writeQueue and sends it when no other chunk is waiting
    // for its response.
    void enqueueWriteChunk(int32_t connection, int32_t handle, const uint8_t* data, uint32_t length,
                           WriteChunkKind kind) REQUIRES(lock);
    // Sends the head of writeQueue (it stays queued until its response).
    void sendWriteHead() REQUIRES(lock);
    // The head's response has come: removes it, carries its chain on or ends it, and sends
    // the new head.
    void advanceWriteQueue() REQUIRES(lock);
    // Queues the next piece of the session's unacknowledged write after `answered`, or
    // ends the write when nothing is left.
    void continueChain(const WriteChunk& answered, BgSession& session) REQUIRES(lock);
    // Ends the session's write with a GobWriteDone.
    void writeFinished(int32_t connection) REQUIRES(lock);
    // Sends the next prepared-write piece (at most 18 bytes) of the session's writeBuffer.
    void sendNextPrepareWrite(int32_t connection, int32_t handle, BgSession& session)
        REQUIRES(lock);
    // Drops the chunks of a connection that are still waiting to be sent.
    void dropWaitingChunks(int32_t connection) REQUIRES(lock);

    // --- Opening and the reader cycle (conduit_bg_reader.cpp) ---------------------------
    // Becoming ready posts state 0 and restarts a wanted scan; a failed opening forgets
    // activeConduit and stores its state without posting it.
    void becomeReady() REQUIRES(lock);
    bool failInit(ConduitState failedState) REQUIRES(lock);
    // Finds, opens, resets and reopens the dongle's port.
    bool openDongle() REQUIRES(lock);
    // The reader cycle's end when a write has failed the port: state failed, and Reopen.
    CycleEnd givePortUp() REQUIRES(lock);
    // The reader cycle after an empty header read, and after a header.
    CycleEnd watchSilence(uint32_t timeoutMs) REQUIRES(lock);
    CycleEnd receiveMessage(const uint8_t* header, uint32_t timeoutMs) REQUIRES(lock);
    bool payloadAccepted(const MessageDef& def, const uint8_t* payload, size_t length) const;
    void sleepBeforeRetry(const std::function<bool()>& stopRequested);

    template <typename Build, typename... Fields> void emit(Build build, const Fields&... fields) {
        Gob gob;
        if (build(gob, fields...) == 0) {
            post(gob);
        }
    }

    // Handlers of the dongle's messages (conduit_bg_responses.cpp, conduit_bg_events.cpp):
    // each gets a payload that holds at least its message's fixed part. They run from the
    // handler table, where the analysis cannot follow: each one is REQUIRES(lock) for its
    // own body, and receiveMessage, which runs the table, holds the lock.
    void onHelloResponse(const uint8_t* payload, size_t length) REQUIRES(lock);
    void onDisconnectResponse(const uint8_t* payload, size_t length) REQUIRES(lock);
    void onRssiResponse(const uint8_t* payload, size_t length) REQUIRES(lock);
    void onReadByGroupTypeResponse(const uint8_t* payload, size_t length) REQUIRES(lock);
    void onReadByTypeResponse(const uint8_t* payload, size_t length) REQUIRES(lock);
    void onReadByHandleResponse(const uint8_t* payload, size_t length) REQUIRES(lock);
    void onAttributeWriteResponse(const uint8_t* payload, size_t length) REQUIRES(lock);
    void onWriteCommandResponse(const uint8_t* payload, size_t length) REQUIRES(lock);
    void onPrepareWriteResponse(const uint8_t* payload, size_t length) REQUIRES(lock);
    void onExecuteWriteResponse(const uint8_t* payload, size_t length) REQUIRES(lock);
    void onDiscoverResponse(const uint8_t* payload, size_t length) REQUIRES(lock);
    void onConnectDirectResponse(const uint8_t* payload, size_t length) REQUIRES(lock);
    void onEndProcedureResponse(const uint8_t* payload, size_t length) REQUIRES(lock);
    void onSetScanParametersResponse(const uint8_t* payload, size_t length) REQUIRES(lock);
    void onConnectionStatus(const uint8_t* payload, size_t length) REQUIRES(lock);
    void onConnectionDisconnected(const uint8_t* payload, size_t length) REQUIRES(lock);
    void onProcedureCompleted(const uint8_t* payload, size_t length) REQUIRES(lock);
    void onGroupFound(const uint8_t* payload, size_t length) REQUIRES(lock);
    void onAttributeValue(const uint8_t* payload, size_t length) REQUIRES(lock);
    void onScanResponse(const uint8_t* payload, size_t length) REQUIRES(lock);
    void completeLookUp(BgSession& session, int32_t connection) REQUIRES(lock);
    void completeProcedure(BgSession& session, int32_t connection, uint16_t handle) REQUIRES(lock);

    std::atomic<bool> ready{false}; // the dongle accepted the scan parameters
    std::atomic<ConduitState> state{ConduitState::NotReady};
    ThreadOwner readerThread;                                   // the thread that last ran init
    std::map<BleAddress, int32_t> connections GUARDED_BY(lock); // live: address -> handle
    std::map<int32_t, BgSession> sessions GUARDED_BY(lock);     // one per live connection
    bool scanWanted GUARDED_BY(lock) = false;  // a scan is asked for and not stopped
    std::list<GapOp> gapOps GUARDED_BY(lock);  // the GAP queue; only its head runs
    uint32_t silentMs GUARDED_BY(lock) = 0;    // read timeouts since the last message
    uint32_t lastHelloMs GUARDED_BY(lock) = 0; // silentMs when system_hello was last sent
    // The address type each device advertised with (gap_scan_response), for the type
    // gap_connect_direct names: a device with a random address answers only a connect
    // that says so. A device never seen in a scan is connected as public.
    AddressTypes addressTypes GUARDED_BY(lock);
    SerialPortSource& ports; // where the dongle's port is found and opened
};

// The conduit that init has opened, or null (under its `lock`).
extern ConduitBg* activeConduit;

// Write commands not yet answered by the dongle, oldest first; the head is the one sent
// and waiting for its response (under the active conduit's `lock`).
extern std::list<WriteChunk> writeQueue;

// The disconnection reason of a GobDisconnected for a BGAPI reason code.
DisconnectReason disconnectReasonCode(uint16_t bgapiReason);
