// Listening: a Listen event on success; a port that is taken gives the Error text
// "could not bind socket (...)", then Close, -1, and the Destroy at the next pass or at
// shutdown. Shutdown closes and destroys every stream, newest first, and the layer can be
// started again and listen on the same port.
#include "stream_fixture.h"

namespace {

using ListenTest = StreamLayerTest;

void expectBindError(const RecordedEvent& event) {
    EXPECT_EQ(event.type, StreamEventType::Error);
    const std::string prefix = "could not bind socket (";
    ASSERT_GT(event.message.size(), prefix.size() + 1) << event.message;
    EXPECT_EQ(event.message.substr(0, prefix.size()), prefix);
    EXPECT_EQ(event.message.back(), ')');
}

TEST_F(ListenTest, ListeningEmitsListen) {
    Stream* listening = listenOnLoopback();

    EXPECT_EQ(listening->state, StreamState::Listening);
    ASSERT_EQ(eventsOn(listening).size(), 1U);
    EXPECT_EQ(eventsOn(listening)[0].type, StreamEventType::Listen);
    EXPECT_EQ(eventsOn(listening)[0].message, "socket is listening");
}

TEST_F(ListenTest, TakenPortGivesErrorCloseAndDestroyNextPass) {
    Stream* first = listenOnLoopback();
    Stream* second = newStream();
    record(second);

    EXPECT_EQ(streamListen(second, "127.0.0.1", port, 511), -1);

    EXPECT_EQ(second->state, StreamState::Closed);
    EXPECT_EQ(second->socket, noSocket);
    ASSERT_EQ(typesOn(second), (std::vector{StreamEventType::Error, StreamEventType::Close}));
    expectBindError(eventsOn(second)[0]);
    update();
    EXPECT_EQ(typesOn(second).back(), StreamEventType::Destroy);
    EXPECT_EQ(first->state, StreamState::Listening);
}

TEST_F(ListenTest, TakenPortStreamIsDestroyedByShutdown) {
    listenOnLoopback();
    Stream* second = newStream();
    record(second);
    ASSERT_EQ(streamListen(second, "127.0.0.1", port, 511), -1);

    shutDown();

    EXPECT_EQ(typesOn(second), (std::vector{StreamEventType::Error, StreamEventType::Close,
                                            StreamEventType::Destroy}));
}

TEST_F(ListenTest, UnresolvableHostGivesAddrinfoError) {
    Stream* stream = newStream();
    record(stream);

    EXPECT_EQ(streamListen(stream, "no such host.invalid", 0, 511), -1);

    ASSERT_EQ(typesOn(stream), (std::vector{StreamEventType::Error, StreamEventType::Close}));
    EXPECT_EQ(eventsOn(stream)[0].message.rfind("could not get addrinfo", 0), 0U)
        << eventsOn(stream)[0].message;
}

TEST_F(ListenTest, ShutdownClosesAndDestroysNewestFirst) {
    Stream* listening = listenOnLoopback();
    TestClient first(port);
    ASSERT_TRUE(acceptCount(1));
    TestClient second(port);
    ASSERT_TRUE(acceptCount(2));
    TestClient third(port);
    ASSERT_TRUE(acceptCount(3));
    const std::vector<Stream*> streams = accepted();
    update();
    const std::size_t before = events.size();

    shutDown();

    const std::vector<Stream*> newestFirst{streams[2], streams[1], streams[0], listening};
    ASSERT_EQ(events.size(), before + 2 * newestFirst.size());
    for (std::size_t i = 0; i < newestFirst.size(); ++i) {
        const RecordedEvent& close = events[before + 2 * i];
        const RecordedEvent& destroy = events[before + 2 * i + 1];
        EXPECT_EQ(close.stream, newestFirst[i]) << i;
        EXPECT_EQ(close.type, StreamEventType::Close) << i;
        EXPECT_EQ(destroy.stream, newestFirst[i]) << i;
        EXPECT_EQ(destroy.type, StreamEventType::Destroy) << i;
    }
    for (TestClient* client : {&first, &second, &third}) {
        ASSERT_TRUE(pumpUntil([client] {
            client->collect();
            return client->peerClosed;
        }));
    }
}

TEST_F(ListenTest, LayerStartsAgainAndListensOnTheSamePort) {
    listenOnLoopback();
    TestClient client(port);
    ASSERT_TRUE(acceptCount(1));
    update();
    const int usedPort = port;
    shutDown();

    ASSERT_EQ(streamInit(), 0);
    layerUp = true;
    Stream* again = newStream();
    record(again);

    EXPECT_EQ(streamListen(again, "127.0.0.1", usedPort, 511), 0);
    TestClient next(usedPort);
    EXPECT_TRUE(next.connected());
}

TEST(StreamErrorText, NamesTheStepAndThePlatformError) {
    EXPECT_EQ(streamErrorText("could not bind socket", 0), "could not bind socket");
    const std::string error = socketErrorText(1);
    EXPECT_EQ(streamErrorText("could not bind socket", 1), "could not bind socket (" + error + ")");
}

TEST(StreamErrorText, CutsTheStepTextTo160Characters) {
    const std::string longText(200, 's');

    EXPECT_EQ(streamErrorText(longText.c_str(), 0), longText);
    const std::string cut = streamErrorText(longText.c_str(), 1);
    EXPECT_EQ(cut.substr(0, 162), std::string(160, 's') + " (");
}

} // namespace
