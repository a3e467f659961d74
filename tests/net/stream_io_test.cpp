// Data on a connected stream: the event order of one connection, closing from inside a
// Data listener, the owner ending a stream, a peer that resets, and listeners that add
// listeners while an event is being emitted.
#include "stream_fixture.h"

namespace {

using StreamIoTest = StreamLayerTest;

TEST_F(StreamIoTest, OneConnectionSeesAcceptReadyDataReadyCloseDestroy) {
    Stream* listening = listenOnLoopback();
    TestClient client(port);
    ASSERT_TRUE(acceptCount(1));
    Stream* stream = accepted()[0];
    const int acceptPass = pass;

    update();
    ASSERT_EQ(typesOn(stream), std::vector{StreamEventType::Ready}) << "Ready without a write";
    EXPECT_EQ(eventsOn(stream)[0].pass, acceptPass + 1);
    EXPECT_EQ(eventsOn(stream)[0].message, "stream is ready for more data");

    ASSERT_TRUE(client.sendAll("hello"));
    ASSERT_TRUE(pumpUntil([&] { return eventsOn(stream).size() >= 2; }));
    const RecordedEvent data = eventsOn(stream)[1];
    EXPECT_EQ(data.type, StreamEventType::Data);
    EXPECT_EQ(data.data, "hello");
    EXPECT_EQ(data.message, "received data");

    streamWrite(stream, "abc", 3);
    update();
    EXPECT_EQ(typesOn(stream).back(), StreamEventType::Ready) << "Ready after a draining flush";
    ASSERT_TRUE(pumpUntil([&] {
        client.collect();
        return client.received == "abc";
    }));

    client.close();
    streamWrite(stream, "never sent", 10);
    ASSERT_TRUE(pumpUntil([&] { return stream->state == StreamState::Closed; }));
    const int closePass = pass;
    EXPECT_TRUE(stream->writeBuffer.empty()) << "pending output is dropped";
    EXPECT_EQ(eventsOn(stream).back().message, "stream closed");

    update();
    const std::vector<RecordedEvent> seen = eventsOn(stream);
    EXPECT_EQ(typesOn(stream),
              (std::vector{StreamEventType::Ready, StreamEventType::Data, StreamEventType::Ready,
                           StreamEventType::Close, StreamEventType::Destroy}));
    EXPECT_EQ(seen.back().pass, closePass + 1);
    EXPECT_EQ(seen.back().message, "the stream has been destroyed");
    EXPECT_EQ(typesOn(listening), (std::vector{StreamEventType::Listen, StreamEventType::Accept}));
}

TEST_F(StreamIoTest, StreamClosedInsideDataListenerGetsNothingMoreAndDestroyNextPass) {
    listenOnLoopback();
    TestClient closing(port);
    TestClient other(port);
    ASSERT_TRUE(acceptCount(2));
    Stream* closed = accepted()[0];
    Stream* busy = accepted()[1];
    update();
    addListener(closed, StreamEventType::Data, [](StreamEvent* event) {
        streamWrite(event->stream, "reply", 5);
        streamClose(event->stream);
    });

    // More than one receive buffer's worth, so that the receive loop would go on.
    ASSERT_TRUE(closing.sendAll(std::string(20000, 'x')));
    ASSERT_TRUE(pumpUntil([&] { return closed->state == StreamState::Closed; }));
    const int closePass = pass;
    ASSERT_TRUE(other.sendAll("late"));
    ASSERT_TRUE(pumpUntil([&] { return typesOn(busy).back() == StreamEventType::Data; }));

    EXPECT_EQ(typesOn(closed), (std::vector{StreamEventType::Ready, StreamEventType::Data,
                                            StreamEventType::Close, StreamEventType::Destroy}));
    const std::vector<RecordedEvent> seen = eventsOn(closed);
    EXPECT_EQ(seen[3].pass, closePass + 1);
    for (const RecordedEvent& event : events) {
        if (event.pass == closePass + 1) {
            EXPECT_EQ(event.stream, closed) << "Destroy opens the next pass";
            EXPECT_EQ(event.type, StreamEventType::Destroy);
            break;
        }
    }
    ASSERT_TRUE(pumpUntil([&] {
        closing.collect();
        return closing.peerClosed;
    }));
    EXPECT_EQ(closing.received, "") << "the reply written before the close was never flushed";
}

TEST_F(StreamIoTest, OwnerCloseEndsTheConnectionLikeAPeerClose) {
    listenOnLoopback();
    TestClient client(port);
    ASSERT_TRUE(acceptCount(1));
    Stream* stream = accepted()[0];
    update();
    streamWrite(stream, "dropped", 7);

    streamClose(stream);
    streamClose(stream);

    EXPECT_EQ(stream->state, StreamState::Closed);
    EXPECT_TRUE(stream->writeBuffer.empty());
    EXPECT_EQ(typesOn(stream), (std::vector{StreamEventType::Ready, StreamEventType::Close}));
    const int closePass = pass;
    update();
    EXPECT_EQ(typesOn(stream).back(), StreamEventType::Destroy);
    EXPECT_EQ(eventsOn(stream).back().pass, closePass + 1);
    ASSERT_TRUE(pumpUntil([&] {
        client.collect();
        return client.peerClosed;
    }));
    EXPECT_EQ(client.received, "");
}

TEST_F(StreamIoTest, PeerResetWithOutputPendingEndsInClose) {
    listenOnLoopback();
    TestClient client(port);
    client.setReceiveBuffer(4096);
    ASSERT_TRUE(acceptCount(1));
    Stream* stream = accepted()[0];
    setSendBuffer(stream->socket, 4096);
    streamWrite(stream, std::string(1 << 20, 'r').data(), 1 << 20);
    update();
    ASSERT_FALSE(stream->writeBuffer.empty());

    client.reset();
    ASSERT_TRUE(pumpUntil([&] { return stream->state == StreamState::Closed; }));
    update();

    EXPECT_EQ(typesOn(stream).back(), StreamEventType::Destroy);
    for (const RecordedEvent& event : eventsOn(stream)) {
        EXPECT_NE(event.type, StreamEventType::Data);
    }
}

TEST_F(StreamIoTest, ListenersAddedDuringAnEventAreCalledInTheSameWalk) {
    Stream* stream = newStream();
    std::vector<int> calls;
    addListener(stream, StreamEventType::Data, [&calls](StreamEvent* event) {
        calls.push_back(0);
        for (int i = 1; i <= 9; ++i) {
            addListener(event->stream, StreamEventType::Data,
                        [&calls, i](StreamEvent*) { calls.push_back(i); });
        }
    });
    addListener(stream, StreamEventType::Ready, [&calls](StreamEvent*) { calls.push_back(-1); });

    StreamEvent event{StreamEventType::Data};
    emitEvent(stream, &event);

    EXPECT_EQ(calls, (std::vector{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(event.stream, stream);
}

TEST_F(StreamIoTest, ListenersGetTheirOwnUserData) {
    Stream* stream = newStream();
    int first = 1;
    int second = 2;
    std::vector<void*> seen;
    const auto note = [&seen](StreamEvent* event) { seen.push_back(event->userData); };
    addListener(stream, StreamEventType::Close, note, &first);
    addListener(stream, StreamEventType::Close, note, &second);
    addListener(stream, StreamEventType::Close, note);

    StreamEvent event{StreamEventType::Close};
    emitEvent(stream, &event);

    EXPECT_EQ(seen, (std::vector<void*>{&first, &second, nullptr}));
}

} // namespace
