// Test fixture for the stream layer: starts the layer for each test and shuts it down
// afterwards (the layer's state is process-wide), listens on a loopback port chosen by
// the system, records every event with the pass it came in, and pumps streamUpdate with
// a bound on passes and on time.
#pragma once

#include "net/stream_internal.h"
#include "test_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

struct RecordedEvent {
    StreamEventType type;
    Stream* stream;
    Stream* remote;
    std::string message;
    std::string data;
    int pass; // the number of streamUpdate calls made before the event
};

class StreamLayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        setPanicHandler([](const char* text) { ADD_FAILURE() << "stream panic: " << text; });
        ASSERT_EQ(streamInit(), 0);
        setUpdateTimeout(0.001);
    }

    void TearDown() override {
        if (layerUp) {
            streamShutdown();
        }
    }

    void shutDown() {
        streamShutdown();
        layerUp = false;
    }

    void update() {
        ++pass;
        streamUpdate();
    }

    // Records every event on `stream`; the streams it accepts are recorded too, their
    // listeners added inside the Accept event as the layer's users do.
    void record(Stream* stream) {
        for (const StreamEventType type :
             {StreamEventType::Destroy, StreamEventType::Accept, StreamEventType::Listen,
              StreamEventType::Close, StreamEventType::Ready, StreamEventType::Data,
              StreamEventType::Error, StreamEventType::Rest}) {
            addListener(stream, type, [this](StreamEvent* event) { onEvent(event); });
        }
    }

    // A recorded stream listening on 127.0.0.1 at a port the system chose (port).
    Stream* listenOnLoopback() {
        Stream* listening = newStream();
        record(listening);
        EXPECT_EQ(streamListen(listening, "127.0.0.1", 0, 511), 0);
        port = socketLocalPort(listening->socket);
        EXPECT_GT(port, 0);
        return listening;
    }

    // Runs passes until `done` holds, at most `maxPasses` passes and 30 seconds.
    bool pumpUntil(const std::function<bool()>& done, int maxPasses = 5000) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (int i = 0; i < maxPasses && std::chrono::steady_clock::now() < deadline; ++i) {
            if (done()) {
                return true;
            }
            update();
        }
        return done();
    }

    // The events recorded on `stream`, in order.
    std::vector<RecordedEvent> eventsOn(const Stream* stream) const {
        std::vector<RecordedEvent> found;
        for (const RecordedEvent& event : events) {
            if (event.stream == stream) {
                found.push_back(event);
            }
        }
        return found;
    }

    std::vector<StreamEventType> typesOn(const Stream* stream) const {
        std::vector<StreamEventType> types;
        for (const RecordedEvent& event : eventsOn(stream)) {
            types.push_back(event.type);
        }
        return types;
    }

    // The streams announced by Accept events, in order.
    std::vector<Stream*> accepted() const {
        std::vector<Stream*> streams;
        for (const RecordedEvent& event : events) {
            if (event.type == StreamEventType::Accept) {
                streams.push_back(event.remote);
            }
        }
        return streams;
    }

    // Pumps until `count` connections have been accepted.
    bool acceptCount(std::size_t count) {
        return pumpUntil([&] { return accepted().size() >= count; });
    }

    std::vector<RecordedEvent> events;
    int pass = 0;
    int port = 0;
    bool layerUp = true;

private:
    void onEvent(StreamEvent* event) {
        std::string data;
        if (event->data != nullptr) {
            data.assign(reinterpret_cast<const char*>(event->data),
                        static_cast<std::size_t>(event->size));
        }
        events.push_back({event->type, event->stream, event->remote, event->message, data, pass});
        if (event->type == StreamEventType::Accept) {
            record(event->remote);
        }
    }
};
