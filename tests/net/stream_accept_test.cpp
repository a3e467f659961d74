// Accepting: pending connections become Connected streams announced by Accept, in the
// order the platform returns them; new streams wait for the next pass; a failed accept
// disturbs nobody; many more than 64 connections are all served.
#include "stream_fixture.h"

#include <cstring>
#include <memory>

namespace {

using AcceptTest = StreamLayerTest;

TEST_F(AcceptTest, ThreeWaitingConnectionsAreAcceptedInOnePassInOrder) {
    Stream* listening = listenOnLoopback();
    TestClient first(port);
    TestClient second(port);
    TestClient third(port);
    ASSERT_TRUE(first.connected() && second.connected() && third.connected());

    update();

    const std::vector<Stream*> streams = accepted();
    ASSERT_EQ(streams.size(), 3U);
    EXPECT_EQ(peerPort(streams[0]->socket), first.localPort());
    EXPECT_EQ(peerPort(streams[1]->socket), second.localPort());
    EXPECT_EQ(peerPort(streams[2]->socket), third.localPort());
    for (const RecordedEvent& event : eventsOn(listening)) {
        if (event.type == StreamEventType::Accept) {
            EXPECT_EQ(event.message, "accepted connection");
        }
    }
    for (Stream* stream : streams) {
        EXPECT_EQ(stream->state, StreamState::Connected);
        EXPECT_TRUE(typesOn(stream).empty()) << "a new stream is first handled next pass";
    }

    update();

    for (Stream* stream : streams) {
        EXPECT_EQ(typesOn(stream), std::vector{StreamEventType::Ready});
    }
}

TEST_F(AcceptTest, ListeningStreamGetsNeitherDataNorReady) {
    Stream* listening = listenOnLoopback();
    TestClient client(port);
    ASSERT_TRUE(acceptCount(1));
    Stream* stream = accepted()[0];
    ASSERT_TRUE(client.sendAll("ping"));
    ASSERT_TRUE(pumpUntil([&] { return eventsOn(stream).size() >= 2; }));
    ASSERT_EQ(typesOn(stream), (std::vector{StreamEventType::Data, StreamEventType::Ready}))
        << "a fresh stream reads, then gets its first flush";
    for (int i = 0; i < 5; ++i) {
        update();
    }

    EXPECT_EQ(typesOn(listening), (std::vector{StreamEventType::Listen, StreamEventType::Accept}));
    EXPECT_EQ(listening->state, StreamState::Listening);
}

// Replaces the platform's accept with one that fails `count` times, as if peers had reset
// their pending connections, and then accepts as usual; the original is put back at the end.
class FailingAccept {
public:
    explicit FailingAccept(int count) {
        original = socketCalls().accept;
        failuresLeft = count;
        socketCalls().accept = acceptOrFail;
    }
    ~FailingAccept() { socketCalls().accept = original; }
    FailingAccept(const FailingAccept&) = delete;
    FailingAccept& operator=(const FailingAccept&) = delete;

    static int failuresLeft;

private:
    static SocketResult acceptOrFail(SocketHandle listening) {
        if (failuresLeft > 0) {
            --failuresLeft;
            return {SocketStatus::Failed, -1, 104};
        }
        return original(listening);
    }

    static SocketResult (*original)(SocketHandle);
};

int FailingAccept::failuresLeft = 0;
SocketResult (*FailingAccept::original)(SocketHandle) = nullptr;

TEST_F(AcceptTest, FailedAcceptCreatesNoStreamAndResumesNextPass) {
    Stream* listening = listenOnLoopback();
    TestClient before(port);
    ASSERT_TRUE(acceptCount(1));
    Stream* served = accepted()[0];
    update();

    const FailingAccept failing(1);
    TestClient client(port);
    ASSERT_TRUE(client.connected());
    const int failedPass = pass + 1;
    ASSERT_TRUE(acceptCount(2));

    const RecordedEvent acceptEvent = eventsOn(listening).back();
    EXPECT_EQ(acceptEvent.type, StreamEventType::Accept);
    EXPECT_EQ(FailingAccept::failuresLeft, 0);
    EXPECT_GT(acceptEvent.pass, failedPass) << "the failed pass announced nothing";
    EXPECT_EQ(peerPort(acceptEvent.remote->socket), client.localPort());
    for (const RecordedEvent& event : events) {
        EXPECT_NE(event.type, StreamEventType::Error);
        EXPECT_NE(event.type, StreamEventType::Close);
    }
    EXPECT_EQ(served->state, StreamState::Connected);

    shutDown();
    int destroyed = 0;
    for (const RecordedEvent& event : events) {
        destroyed += event.type == StreamEventType::Destroy ? 1 : 0;
    }
    EXPECT_EQ(destroyed, 3) << "the listening stream and the two accepted ones, no more";
}

TEST_F(AcceptTest, ThreeHundredConnectionsAreAllServed) {
    constexpr int clientCount = 300;
    listenOnLoopback();
    std::vector<std::unique_ptr<TestClient>> clients;
    for (int i = 0; i < clientCount; ++i) {
        clients.push_back(std::make_unique<TestClient>(port));
        ASSERT_TRUE(clients.back()->connected()) << "client " << i;
        if (i % 16 == 15) {
            update();
        }
    }
    ASSERT_TRUE(acceptCount(clientCount));
    for (Stream* stream : accepted()) {
        addListener(stream, StreamEventType::Data, [](StreamEvent* event) {
            streamWrite(event->stream, event->data, static_cast<std::size_t>(event->size));
        });
    }
    for (int i = 0; i < clientCount; ++i) {
        ASSERT_TRUE(clients[i]->sendAll("client " + std::to_string(i) + ";"));
    }

    const bool allEchoed = pumpUntil([&] {
        bool all = true;
        for (int i = 0; i < clientCount; ++i) {
            clients[i]->collect();
            all =
                all && clients[i]->received.size() >= ("client " + std::to_string(i) + ";").size();
        }
        return all;
    });

    EXPECT_TRUE(allEchoed);
    for (int i = 0; i < clientCount; ++i) {
        EXPECT_EQ(clients[i]->received, "client " + std::to_string(i) + ";");
    }
}

} // namespace
