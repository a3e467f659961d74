// What one stream may cost a pass: at most streamReceiveBudget bytes read, nothing read
// while its input is held, and a listening stream that runs out of descriptors rests
// instead of spinning, announcing each episode once.
#include "stream_fixture.h"

#include <cstdint>
#include <map>

namespace {

// Replaces the platform's accept with one that reports exhaustion (the process is out of
// descriptors) and counts its calls; the original is put back at the end.
class ExhaustedAccept {
public:
    ExhaustedAccept() {
        original = socketCalls().accept;
        socketCalls().accept = exhausted;
        calls = 0;
    }
    ~ExhaustedAccept() { socketCalls().accept = original; }
    ExhaustedAccept(const ExhaustedAccept&) = delete;
    ExhaustedAccept& operator=(const ExhaustedAccept&) = delete;

    static int calls;

private:
    static SocketResult exhausted(SocketHandle) {
        ++calls;
        return {SocketStatus::Exhausted, -1, 24};
    }

    static SocketResult (*original)(SocketHandle);
};

int ExhaustedAccept::calls = 0;
SocketResult (*ExhaustedAccept::original)(SocketHandle) = nullptr;

class BoundsTest : public StreamLayerTest {
protected:
    // The bytes of Data events on `stream`, by pass.
    std::map<int, std::size_t> bytesByPass(const Stream* stream) const {
        std::map<int, std::size_t> bytes;
        for (const RecordedEvent& event : eventsOn(stream)) {
            if (event.type == StreamEventType::Data) {
                bytes[event.pass] += event.data.size();
            }
        }
        return bytes;
    }

    std::string dataOn(const Stream* stream) const {
        std::string data;
        for (const RecordedEvent& event : eventsOn(stream)) {
            if (event.type == StreamEventType::Data) {
                data += event.data;
            }
        }
        return data;
    }

    int countOf(const Stream* stream, StreamEventType type) const {
        int count = 0;
        for (const RecordedEvent& event : eventsOn(stream)) {
            count += event.type == type ? 1 : 0;
        }
        return count;
    }
};

TEST_F(BoundsTest, OnePassReadsAtMostTheBudgetAndTheRestComesInOrderWithoutWaiting) {
    listenOnLoopback();
    TestClient client(port);
    ASSERT_TRUE(acceptCount(1));
    Stream* served = accepted()[0];
    // Room for every byte in the served socket, so that they all wait there at once.
    setReceiveBuffer(served->socket, 1 << 20);
    std::string sent(160 * 1024, '\0');
    for (std::size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<char>('a' + (i * 7 + i / 1000) % 26);
    }
    ASSERT_TRUE(client.sendAll(sent));
    // The loop never sleeps while bytes are left: a wait without end must not hang.
    setUpdateTimeout(streamWaitForever);
    ASSERT_TRUE(pumpUntil([&] { return dataOn(served).size() >= sent.size(); }, 1000));
    EXPECT_EQ(dataOn(served), sent);
    bool cutByTheBudget = false;
    for (const auto& [pass, bytes] : bytesByPass(served)) {
        EXPECT_LE(bytes, streamReceiveBudget) << "pass " << pass;
        cutByTheBudget = cutByTheBudget || bytes == streamReceiveBudget;
    }
    EXPECT_TRUE(cutByTheBudget) << "at least one pass had more waiting than its budget";
}

TEST_F(BoundsTest, HeldInputIsNotReadUntilReleasedAndOutputGoesOn) {
    listenOnLoopback();
    TestClient client(port);
    ASSERT_TRUE(acceptCount(1));
    Stream* served = accepted()[0];
    ASSERT_TRUE(pumpUntil([&] { return countOf(served, StreamEventType::Ready) >= 1; }));
    streamHoldInput(served, true);
    ASSERT_TRUE(client.sendAll("held bytes"));
    streamWrite(served, "reply", 5);
    ASSERT_TRUE(pumpUntil(
        [&] {
            client.collect();
            return client.received == "reply";
        },
        2000));
    setUpdateTimeout(0.0);
    for (int i = 0; i < 20; ++i) {
        update();
    }
    EXPECT_EQ(countOf(served, StreamEventType::Data), 0);
    streamHoldInput(served, false);
    setUpdateTimeout(0.001);
    ASSERT_TRUE(pumpUntil([&] { return dataOn(served) == "held bytes"; }));
}

TEST_F(BoundsTest, HoldingInsideADataListenerEndsThePassesReadingOfTheStream) {
    listenOnLoopback();
    TestClient client(port);
    ASSERT_TRUE(acceptCount(1));
    Stream* served = accepted()[0];
    addListener(served, StreamEventType::Data,
                [](StreamEvent* event) { streamHoldInput(event->stream, true); });
    ASSERT_TRUE(client.sendAll(std::string(40 * 1024, 'h')));
    ASSERT_TRUE(pumpUntil([&] { return countOf(served, StreamEventType::Data) >= 1; }));
    setUpdateTimeout(0.0);
    for (int i = 0; i < 10; ++i) {
        update();
    }
    EXPECT_EQ(countOf(served, StreamEventType::Data), 1);
    EXPECT_LT(dataOn(served).size(), std::size_t{40 * 1024});
}

TEST_F(BoundsTest, ExhaustedListenerRestsAnnouncesTheEpisodeOnceAndAcceptsAfterward) {
    Stream* listening = listenOnLoopback();
    TestClient waiting(port);
    ASSERT_TRUE(waiting.connected());
    setAcceptRest(30.0);
    {
        const ExhaustedAccept exhausted;
        ASSERT_TRUE(pumpUntil([&] { return ExhaustedAccept::calls >= 1; }));
        // The pending connection keeps the socket readable: a spinning loop would call
        // accept in every pass.
        setUpdateTimeout(0.0);
        for (int i = 0; i < 20; ++i) {
            update();
        }
        EXPECT_EQ(ExhaustedAccept::calls, 1);
        // The rest over, accept is tried again; the episode goes on without a new Rest.
        listening->restUntil = {};
        ASSERT_TRUE(pumpUntil([&] { return ExhaustedAccept::calls >= 2; }));
        EXPECT_EQ(countOf(listening, StreamEventType::Rest), 1);
        const RecordedEvent rest = eventsOn(listening)[1];
        EXPECT_EQ(rest.type, StreamEventType::Rest);
        EXPECT_EQ(rest.message, streamErrorText("accept ran out of descriptors", 24));
    }
    listening->restUntil = {};
    setUpdateTimeout(0.001);
    ASSERT_TRUE(acceptCount(1)) << "the waiting connection is taken once descriptors are back";
    EXPECT_EQ(listening->state, StreamState::Listening);
    {
        // A new episode after a connection was accepted is announced again.
        const ExhaustedAccept exhausted;
        TestClient next(port);
        ASSERT_TRUE(pumpUntil([&] { return ExhaustedAccept::calls >= 1; }));
        EXPECT_EQ(countOf(listening, StreamEventType::Rest), 2);
    }
}

TEST_F(BoundsTest, WaitWithoutEndEndsWhenTheRestDoes) {
    Stream* listening = listenOnLoopback();
    TestClient waiting(port);
    setAcceptRest(0.05);
    const ExhaustedAccept exhausted;
    ASSERT_TRUE(pumpUntil([&] { return ExhaustedAccept::calls >= 1; }));
    // Nothing but the end of the rest can end this wait.
    setUpdateTimeout(streamWaitForever);
    ASSERT_TRUE(pumpUntil([&] { return ExhaustedAccept::calls >= 2; }, 100));
    EXPECT_EQ(countOf(listening, StreamEventType::Rest), 1);
}

} // namespace
