// Buffered output: a send that takes only part of the buffer keeps the rest in order, no
// Ready comes until the buffer drains, and every byte arrives once, in order.
#include "stream_fixture.h"

#include <algorithm>

namespace {

using FlushTest = StreamLayerTest;

std::string pattern(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    }
    return bytes;
}

int readyCount(const std::vector<RecordedEvent>& seen) {
    return static_cast<int>(std::count_if(seen.begin(), seen.end(), [](const RecordedEvent& e) {
        return e.type == StreamEventType::Ready;
    }));
}

TEST_F(FlushTest, PartialSendsKeepTheRestInOrderAndReadyWaitsForTheDrain) {
    listenOnLoopback();
    TestClient client(port);
    client.setReceiveBuffer(32 * 1024);
    ASSERT_TRUE(acceptCount(1));
    Stream* stream = accepted()[0];
    setSendBuffer(stream->socket, 32 * 1024);
    update();
    ASSERT_EQ(readyCount(eventsOn(stream)), 1);

    const std::string sent = pattern(std::size_t{1024} * 1024);
    streamWrite(stream, sent.data(), sent.size());
    for (int i = 0; i < 20; ++i) {
        update();
    }

    EXPECT_FALSE(stream->writeBuffer.empty()) << "the peer does not read";
    EXPECT_LT(stream->writeBuffer.size(), sent.size()) << "part was sent";
    EXPECT_EQ(readyCount(eventsOn(stream)), 1) << "no Ready before the buffer drains";
    const std::string rest(stream->writeBuffer.begin(), stream->writeBuffer.end());
    EXPECT_EQ(rest, sent.substr(sent.size() - rest.size())) << "the rest is the tail, in order";

    ASSERT_TRUE(pumpUntil(
        [&] {
            client.collect();
            return client.received.size() >= sent.size();
        },
        20000));
    update();

    EXPECT_EQ(client.received, sent);
    EXPECT_TRUE(stream->writeBuffer.empty());
    EXPECT_EQ(readyCount(eventsOn(stream)), 2);
}

TEST_F(FlushTest, WritesFromAListenerGoOutInTheSamePass) {
    listenOnLoopback();
    TestClient client(port);
    ASSERT_TRUE(acceptCount(1));
    Stream* stream = accepted()[0];
    update();
    addListener(stream, StreamEventType::Data,
                [](StreamEvent* event) { streamWrite(event->stream, "pong", 4); });

    ASSERT_TRUE(client.sendAll("ping"));
    ASSERT_TRUE(pumpUntil([&] { return typesOn(stream).size() >= 2; }));

    const std::vector<RecordedEvent> seen = eventsOn(stream);
    EXPECT_EQ(typesOn(stream),
              (std::vector{StreamEventType::Ready, StreamEventType::Data, StreamEventType::Ready}));
    EXPECT_EQ(seen[2].pass, seen[1].pass) << "flushed by the last check of the same pass";
    EXPECT_TRUE(stream->writeBuffer.empty());
    ASSERT_TRUE(pumpUntil([&] {
        client.collect();
        return client.received == "pong";
    }));
}

} // namespace
