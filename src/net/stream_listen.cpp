// Listening and accepting: streamListen gives a new stream its listening socket, the
// accept loop turns pending connections into Connected streams announced by Accept, and
// streamError reports a failed socket step as an Error event followed by the close.
//
// An accept that fails with anything but "would block" creates no stream: accepting stops
// for this pass, and the connected clients are not disturbed. A failure such as a peer
// that reset its pending connection emits no event, and accepting resumes in the next
// pass in which the listening socket is readable. Exhaustion (no descriptor or buffer
// left) would find the socket readable again at once and spin: the listening stream rests
// instead (its socket unwatched for the accept rest), its first exhaustion since the last
// accepted connection announced by a Rest event ("accept ran out of descriptors (...)").
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

// Takes the listening stream out of the wait for the accept rest; a Rest event on the
// first exhaustion of an episode.
void rest(Stream* listening, int error) {
    const std::chrono::duration<double> pause(streamLayer().acceptRest);
    listening->restUntil = std::chrono::steady_clock::now() +
                           std::chrono::duration_cast<std::chrono::steady_clock::duration>(pause);
    if ((listening->flags & StreamFlag::Exhausted) != 0) {
        return;
    }
    listening->flags |= StreamFlag::Exhausted;
    const std::string message = streamErrorText("accept ran out of descriptors", error);
    emitSimple(listening, StreamEventType::Rest, message.c_str());
}

} // namespace

int streamListen(Stream* stream, const char* host, int port, int backlog) {
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
        if (result.status == SocketStatus::Exhausted) {
            rest(listening, result.error);
            return;
        }
        if (result.status != SocketStatus::Done) {
            return;
        }
        listening->flags &= ~StreamFlag::Exhausted;
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
