// The stream layer's own operations and process-wide state, shared by its files
// (stream.cpp, stream_update.cpp, stream_listen.cpp) and used by its tests. Not for users
// of the layer: they call the functions of stream.h.
//
// Threads: as stream.h; everything here runs on the one thread that owns the layer.
#pragma once

#include "net/stream.h"
#include "net/stream_wait.h"
#include "net/stream_wake.h"

#include <new>
#include <string>

// The layer's process-wide state.
struct StreamLayer {
    std::unique_ptr<Stream> head; // the stream list, newest first
    double updateTimeout = 1.0;   // longest wait of one pass, in seconds
    double acceptRest = 0.1;      // a listening stream's rest after exhaustion, in seconds
    StreamWait wait;              // the readiness sets
    std::vector<Stream*> watched; // the streams added to the wait in this pass, by slot
};

StreamLayer& streamLayer();

// The wake-up channel as the layer's thread sees it (stream_wake.cpp): made by
// streamInit, closed by streamShutdown; its handle is watched by every wait; a wait that
// found it readable consumes the wake-up.
int openWakeChannel();
void closeWakeChannel();
SocketHandle wakeHandle();
void consumeWake();
// Counts one streamUpdate pass (streamPassCount).
void countPass();

// Runs `grow`, which allocates; running out of memory panics ("out of memory").
template <typename Grow> void growOrPanic(Grow grow) {
    try {
        grow();
    } catch (const std::bad_alloc&) {
        streamPanic("out of memory");
    }
}

// Calls every listener of `stream` for event->type, in the order added; the walk survives
// listeners that add listeners.
void emitEvent(Stream* stream, StreamEvent* event);

// Emits an event of `type` with `message` and nothing else on `stream`.
void emitSimple(Stream* stream, StreamEventType type, const char* message);

// Closes `stream` whatever its state: Closed, socket closed, Close event, output dropped.
// streamClose does this for streams that are not closed yet; streamError for every stream,
// so that a new stream whose listen fails also reports its Close.
void closeStream(Stream* stream);

// Closes the socket if any, emits Destroy, unlinks the stream and frees it.
void destroyStream(Stream* stream);

// Sends what the write buffer holds; Ready when it is empty afterwards.
void flush(Stream* stream);

// Receives until the socket would block, the stream is held or streamReceiveBudget bytes
// have come in this pass, emitting Data for each chunk.
void receive(Stream* stream);

// Accepts pending connections on a listening stream, each announced by Accept; on
// exhaustion the stream rests (restUntil), with a Rest event for the first of an episode.
void acceptPending(Stream* listening);

// Emits an Error event with streamErrorText(text, errorNumber), then closeStream.
void streamError(Stream* stream, const char* text, int errorNumber);
