// Listening and accepting: streamListen gives a new stream its listening socket, the
// accept loop turns pending connections into Connected streams announced by Accept, and
// streamError reports a failed socket step as an Error event followed by the close.
//
// An accept that fails with anything but "would block" (a peer that reset its pending
// connection, a full descriptor table) creates no stream and emits no event: accepting
// stops for this pass and resumes in the next pass in which the listening socket is
// readable, and the connected clients are not disturbed.
//
// Threads: the one thread that owns the layer; nothing here locks.
#include "net/stream_internal.h"

#include <cstdio>
#include <string>

namespace {

const char* listenFailureText(ListenFailure failure) {
    switch (failure) {
    case ListenFailure::None:
        return "";
    case ListenFailure::Resolve:
        return "could not get addrinfo";
    case ListenFailure::Create:
        return "could not create socket";
    case ListenFailure::Bind:
        return "could not bind socket";
    case ListenFailure::Listen:
        return "socket failed on listen";
    }
    return "";
}

} // namespace

int streamListen(Stream* stream, const char* host, int port, int backlog) {
    ASSERT_OWNING_THREAD(streamLayer().owner);
    const std::string service = std::to_string(port);
    const ListenResult result = socketCalls().listen(host, service.c_str(), backlog);
    if (result.failure != ListenFailure::None) {
        streamError(stream, listenFailureText(result.failure), result.error);
        return -1;
    }
    stream->socket = result.socket;
    stream->state = StreamState::Listening;
    emitSimple(stream, StreamEventType::Listen, "socket is listening");
    return 0;
}

void acceptPending(Stream* listening) {
    for (;;) {
        const SocketResult result = socketCalls().accept(listening->socket);
        if (result.status != SocketStatus::Done) {
            return;
        }
        Stream* remote = newStream();
        remote->state = StreamState::Connected;
        remote->socket = result.value;
        StreamEvent event{StreamEventType::Accept};
        event.remote = remote;
        event.message = "accepted connection";
        emitEvent(listening, &event);
        if (listening->state != StreamState::Listening) {
            return;
        }
    }
}

std::string streamErrorText(const char* text, int errorNumber) {
    if (errorNumber == 0) {
        return text;
    }
    char buffer[256];
    std::snprintf(buffer, sizeof buffer, "%.160s (%.80s)", text,
                  socketErrorText(errorNumber).c_str());
    return buffer;
}

void streamError(Stream* stream, const char* text, int errorNumber) {
    const std::string message = streamErrorText(text, errorNumber);
    emitSimple(stream, StreamEventType::Error, message.c_str());
    closeStream(stream);
}
