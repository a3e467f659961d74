// Writes: the three write procedures, the prepared-write pieces of a long write, and the
// process-wide write queue of write commands.
//
// The write queue holds every write command not yet answered; only its head is ever on
// the way to the dongle. Writers are kept apart: a chunk is sent when it becomes the head
// (never twice, except when the dongle asks for a resend with 0x0182); an unacknowledged
// write continues only with its own next piece, to its own attribute handle; a
// subscription write ends only itself. Each write ends in exactly one GobWriteDone.
//
// Threads: `write` runs on the mux thread, the rest on either thread; always under `lock`.
#include "conduit/bg/conduit_bg.h"
#include "conduit/bgapi/bgapi_pack.h"
#include "conduit/serial/serial_io.h"
#include "gob/gob_events.h"
#include "log/log.h"

#include <algorithm>
#include <utility>

std::list<WriteChunk> writeQueue;

namespace {

// The most data of one prepared-write piece.
constexpr uint32_t maxPreparedPiece = 18;
// The offset field of attclient_prepare_write is 16 bits: a long write ends below this.
constexpr uint32_t maxLongWrite = 0xFFFF;

} // namespace

bool ConduitBg::write(const BleAddress& address, uint8_t index, const uint8_t* data,
                      uint32_t length, bool withResponse) {
    ASSERT_HELD(lock);
    const OperationTarget target =
        lookUpTarget("write", OperationKind::Procedure, address, TargetLink::Characteristic, index);
    if (target.answer) {
        return *target.answer;
    }
    const int32_t connection = target.connection;
    const int32_t handle = target.handle;
    BgSession* session = target.session;
    if (withResponse && length > maxLongWrite) {
        logPrint(LogStamp::With, "BG conduit: in write, value of %u bytes too long\n", length);
        return false;
    }
    if (session->state != SessionState::Idle) {
        logPrint(LogStamp::With, "BG conduit: in write, session busy\n");
        WaitingRequest request;
        request.kind = WaitingRequest::Kind::Write;
        request.index = index;
        request.data.assign(data, data + length);
        request.withResponse = withResponse;
        return waitForIdle(*session, std::move(request));
    }
    kickReader();
    if (withResponse && length <= maxWriteChunk) {
        session->state = SessionState::Writing;
        sendCommand(BgMessage::CmdAttclientAttributeWrite, connection, handle, length, data);
    } else if (withResponse) {
        session->writeBuffer.assign(data, data + length);
        session->writeOffset = 0;
        session->state = SessionState::LongWriting;
        sendNextPrepareWrite(connection, handle, *session);
    } else {
        session->writeBuffer.assign(data, data + length);
        const uint32_t first = std::min(length, maxWriteChunk);
        session->writeOffset = first;
        session->state = SessionState::WritingNoResponse;
        enqueueWriteChunk(connection, handle, data, first, WriteChunkKind::Chain);
    }
    return true;
}

void ConduitBg::sendNextPrepareWrite(int32_t connection, int32_t handle, BgSession& session) {
    const uint32_t offset = session.writeOffset;
    const uint32_t piece = std::min(session.writeBytesLeft(), maxPreparedPiece);
    sendCommand(BgMessage::CmdAttclientPrepareWrite, connection, handle, offset, piece,
                session.writeBuffer.data() + offset);
    session.writeOffset = offset + piece;
}

void ConduitBg::enqueueWriteChunk(int32_t connection, int32_t handle, const uint8_t* data,
                                  uint32_t length, WriteChunkKind kind) {
    WriteChunk chunk;
    chunk.connection = connection;
    chunk.handle = handle;
    chunk.length = static_cast<int32_t>(std::min(length, maxWriteChunk));
    chunk.kind = kind;
    std::copy_n(data, chunk.length, chunk.data.begin());
    writeQueue.push_back(chunk);
    if (writeQueue.size() == 1) {
        sendWriteHead();
    }
}

void ConduitBg::sendWriteHead() {
    if (writeQueue.empty()) {
        return;
    }
    const WriteChunk& head = writeQueue.front();
    sendCommand(BgMessage::CmdAttclientWriteCommand, head.connection, head.handle, head.length,
                head.data.data());
}

void ConduitBg::advanceWriteQueue() {
    const WriteChunk head = writeQueue.front();
    writeQueue.pop_front();
    BgSession* session = findSession(head.connection);
    if (session != nullptr) {
        if (head.kind == WriteChunkKind::Subscription) {
            // Not a procedure: a subscription write ends only itself, and the session's
            // state is neither looked at nor changed.
            emit(buildWriteDoneGob, session->address);
        } else if (session->state == SessionState::WritingNoResponse) {
            continueChain(head, *session);
        }
    }
    sendWriteHead();
}

void ConduitBg::continueChain(const WriteChunk& answered, BgSession& session) {
    const uint32_t left = session.writeBytesLeft();
    if (left == 0) {
        writeFinished(answered.connection);
        return;
    }
    // Queued, not sent: the chain's next piece waits behind any chunk queued before it.
    const uint32_t offset = session.writeOffset;
    WriteChunk next = answered;
    next.length = static_cast<int32_t>(std::min(left, maxWriteChunk));
    std::copy_n(session.writeBuffer.begin() + offset, next.length, next.data.begin());
    session.writeOffset = offset + static_cast<uint32_t>(next.length);
    writeQueue.push_back(next);
}

void ConduitBg::writeFinished(int32_t connection) {
    BgSession* session = findSession(connection);
    if (session == nullptr) {
        return;
    }
    endProcedure(*session, ProcedureOutcome::WriteDone);
}

void ConduitBg::dropWaitingChunks(int32_t connection) {
    if (writeQueue.empty()) {
        return;
    }
    // The head has been sent and its response will still come; the rest never go out.
    const auto waiting = std::next(writeQueue.begin());
    writeQueue.erase(std::remove_if(waiting, writeQueue.end(),
                                    [connection](const WriteChunk& chunk) {
                                        return chunk.connection == connection;
                                    }),
                     writeQueue.end());
}
