// The stream layer's records and their life: the process-wide stream list, creating,
// closing and destroying streams, listeners and event emission, buffered writes, and the
// start and shutdown of the layer (with its wake-up channel).
//
// Threads: the one thread that owns the layer; nothing here locks.
#include "net/stream_internal.h"

#include <utility>

StreamLayer& streamLayer() {
    static StreamLayer layer;
    return layer;
}

int streamInit() {
    const int error = socketCalls().startup();
    if (error != 0) {
        streamPanic("WSAStartup failed (%d)", error);
    }
    const int wakeError = openWakeChannel();
    if (wakeError != 0) {
        socketCalls().cleanup();
    }
    return wakeError;
}

void setUpdateTimeout(double seconds) {
    streamLayer().updateTimeout = seconds;
}

void setAcceptRest(double seconds) {
    streamLayer().acceptRest = seconds;
}

void streamHoldInput(Stream* stream, bool hold) {
    if (hold) {
        stream->flags |= StreamFlag::Held;
    } else {
        stream->flags &= ~StreamFlag::Held;
    }
}

Stream* newStream() {
    StreamLayer& layer = streamLayer();
    growOrPanic([&layer] {
        auto stream = std::make_unique<Stream>();
        stream->next = std::move(layer.head);
        layer.head = std::move(stream);
    });
    return layer.head.get();
}

void addListener(Stream* stream, StreamEventType type, StreamCallback callback, void* userData) {
    growOrPanic([&] { stream->listeners.push_back({type, std::move(callback), userData}); });
}

void streamWrite(Stream* stream, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    growOrPanic(
        [&] { stream->writeBuffer.insert(stream->writeBuffer.end(), bytes, bytes + size); });
    stream->flags |= StreamFlag::Written;
}

void emitEvent(Stream* stream, StreamEvent* event) {
    event->stream = stream;
    // By index, re-reading the array after each call: a listener may add listeners.
    // NOLINTNEXTLINE(modernize-loop-convert): a range loop would not survive the growth.
    for (std::size_t i = 0; i < stream->listeners.size(); ++i) {
        if (stream->listeners[i].type != event->type) {
            continue;
        }
        event->userData = stream->listeners[i].userData;
        const StreamCallback callback = stream->listeners[i].callback;
        callback(event);
    }
}

void emitSimple(Stream* stream, StreamEventType type, const char* message) {
    StreamEvent event{type};
    event.message = message;
    emitEvent(stream, &event);
}

void streamClose(Stream* stream) {
    if (stream->state != StreamState::Closed) {
        closeStream(stream);
    }
}

void closeStream(Stream* stream) {
    stream->state = StreamState::Closed;
    if (stream->socket != noSocket) {
        socketCalls().close(stream->socket);
        stream->socket = noSocket;
    }
    emitSimple(stream, StreamEventType::Close, "stream closed");
    stream->writeBuffer.clear();
}

void destroyStream(Stream* stream) {
    if (stream->socket != noSocket) {
        socketCalls().close(stream->socket);
        stream->socket = noSocket;
    }
    emitSimple(stream, StreamEventType::Destroy, "the stream has been destroyed");
    std::unique_ptr<Stream>* link = &streamLayer().head;
    while (link->get() != stream) {
        link = &(*link)->next;
    }
    *link = std::move(stream->next); // frees the stream
}

void streamShutdown() {
    StreamLayer& layer = streamLayer();
    while (layer.head) {
        Stream* stream = layer.head.get();
        streamClose(stream);
        destroyStream(stream);
    }
    layer.wait.release();
    layer.watched = {};
    closeWakeChannel();
    socketCalls().cleanup();
}
