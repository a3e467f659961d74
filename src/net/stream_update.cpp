// One pass of the event loop (streamUpdate) and the per-stream steps it runs: receive,
// flush, and the split of the update timeout for the readiness wait.
//
// A pass: destroy the streams closed since the last pass; watch every open stream and,
// last, the wake-up channel. A stream is watched for reading unless its input is held or,
// listening, it rests after exhaustion (the pass then waits no longer than the rest); a
// connected stream for writing too, until its first Ready and whenever output is pending.
// Wait until one of them is ready or the timeout has passed; consume the wake-up if there
// was one; then, in list order, accept on a readable listening stream, receive on a
// readable connected stream (at most streamReceiveBudget bytes) and flush a writable one,
// and last flush any stream written to since its last flush. Streams accepted during the
// pass join the head of the list and are first handled in the next pass.
//
// Threads: the one thread that owns the layer; nothing here locks.
#include "net/stream_internal.h"

#include <algorithm>
#include <cmath>

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t receiveBufferSize = 8192;

void destroyClosedStreams() {
    Stream* stream = streamLayer().head.get();
    while (stream != nullptr) {
        Stream* successor = stream->next.get();
        if (stream->state == StreamState::Closed) {
            destroyStream(stream);
        }
        stream = successor;
    }
}

bool wantsWrite(const Stream& stream) {
    const bool drained = (stream.flags & StreamFlag::Ready) != 0 && stream.writeBuffer.empty();
    return stream.state == StreamState::Connected && !drained;
}

// Whether the pass watches the stream for reading: not while its input is held, nor while
// it rests after exhaustion, which cuts `timeout` to the end of the rest.
bool watchesRead(const Stream& stream, Clock::time_point now, double& timeout) {
    if ((stream.flags & StreamFlag::Held) != 0) {
        return false;
    }
    if (stream.state == StreamState::Listening && now < stream.restUntil) {
        const double rest = std::chrono::duration<double>(stream.restUntil - now).count();
        timeout = std::min(timeout, rest);
        return false;
    }
    return true;
}

// Adds every open stream and the wake-up channel to the wait; returns the pass's timeout.
double watchOpenStreams() {
    StreamLayer& layer = streamLayer();
    layer.wait.clear();
    layer.watched.clear();
    double timeout = layer.updateTimeout;
    const Clock::time_point now = Clock::now();
    for (Stream* stream = layer.head.get(); stream != nullptr; stream = stream->next.get()) {
        if (stream->state == StreamState::Closed) {
            continue;
        }
        layer.wait.add(stream->socket, watchesRead(*stream, now, timeout), wantsWrite(*stream));
        growOrPanic([&] { layer.watched.push_back(stream); });
    }
    layer.wait.add(wakeHandle(), true, false);
    return timeout;
}

void handleStream(Stream* stream, std::size_t slot) {
    const StreamWait& wait = streamLayer().wait;
    if (stream->state == StreamState::Listening && wait.readable(slot)) {
        acceptPending(stream);
    } else if (stream->state == StreamState::Connected) {
        if (wait.readable(slot)) {
            receive(stream);
        }
        if (stream->state != StreamState::Closed && wait.writable(slot)) {
            flush(stream);
        }
    }
    if ((stream->flags & StreamFlag::Written) != 0 && stream->state != StreamState::Closed) {
        flush(stream);
    }
}

} // namespace

WaitTimeout splitTimeout(double seconds) {
    if (!(seconds > 0.0)) {
        return {0, 0};
    }
    if (std::isinf(seconds)) {
        return {0, 0, true};
    }
    const double whole = std::floor(seconds);
    return {static_cast<long>(whole), static_cast<long>((seconds - whole) * 1000000.0)};
}

void streamUpdate() {
    destroyClosedStreams();
    const double timeout = watchOpenStreams();
    StreamLayer& layer = streamLayer();
    countPass();
    layer.wait.wait(splitTimeout(timeout));
    if (layer.wait.readable(layer.watched.size())) {
        consumeWake();
    }
    // The watched streams stay alive through the pass: only the next pass destroys.
    for (std::size_t slot = 0; slot < layer.watched.size(); ++slot) {
        handleStream(layer.watched[slot], slot);
    }
}

void receive(Stream* stream) {
    std::uint8_t buffer[receiveBufferSize];
    std::size_t received = 0;
    while (received < streamReceiveBudget && (stream->flags & StreamFlag::Held) == 0) {
        const std::size_t room = std::min(receiveBufferSize - 1, streamReceiveBudget - received);
        const SocketResult result =
            socketCalls().receive(stream->socket, reinterpret_cast<char*>(buffer), room);
        if (result.status == SocketStatus::WouldBlock) {
            return;
        }
        if (result.status != SocketStatus::Done || result.value == 0) {
            streamClose(stream);
            return;
        }
        received += static_cast<std::size_t>(result.value);
        buffer[result.value] = 0;
        StreamEvent event{StreamEventType::Data};
        event.message = "received data";
        event.data = buffer;
        event.size = static_cast<std::int32_t>(result.value);
        emitEvent(stream, &event);
        if (stream->state != StreamState::Connected) {
            return;
        }
    }
}

void flush(Stream* stream) {
    stream->flags &= ~StreamFlag::Written;
    std::vector<std::uint8_t>& buffer = stream->writeBuffer;
    if (!buffer.empty()) {
        const SocketResult result = socketCalls().send(
            stream->socket, reinterpret_cast<const char*>(buffer.data()), buffer.size());
        if (result.status != SocketStatus::Done && result.status != SocketStatus::WouldBlock) {
            streamClose(stream);
            return;
        }
        if (result.status == SocketStatus::WouldBlock || result.value <= 0) {
            return;
        }
        buffer.erase(buffer.begin(), buffer.begin() + result.value);
    }
    if (buffer.empty()) {
        stream->flags |= StreamFlag::Ready;
        emitSimple(stream, StreamEventType::Ready, "stream is ready for more data");
    }
}
