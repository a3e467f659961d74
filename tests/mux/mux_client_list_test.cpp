// The list of current connections in the log at each arrival and removal: line by line up
// to 64 clients, beyond that only their number.
#include "mux/mux.h"
#include "mux_test_support.h"
#include "recording_conduit.h"

#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <deque>
#include <string>

namespace {

const std::string countedList = "mux: current connections: ";

std::string idLine(const Stream& stream) {
    char line[64];
    std::snprintf(line, sizeof line, "%" PRIxPTR " \n", reinterpret_cast<uintptr_t>(&stream));
    return line;
}

class MuxClientList : public testing::Test {
protected:
    void SetUp() override { mux.openWithoutServer(&conduit); }

    void addClients(int count) {
        for (int i = 0; i < count; ++i) {
            streams.emplace_back();
            mux.addClient(&streams.back());
        }
    }

    Mux mux;
    RecordingConduit conduit{&mux};
    std::deque<Stream> streams;
};

TEST_F(MuxClientList, SixtyFourClientsAreListedOneLineEach) {
    addClients(64);
    const std::size_t mark = logMark();
    Stream next;
    mux.addClient(&next);

    const std::string log = logSince(mark);
    EXPECT_EQ(logCount(mark, "mux: current connections\n"), 1) << log;
    EXPECT_EQ(logCount(mark, countedList), 0);
    for (const Stream& stream : streams) {
        EXPECT_EQ(logCount(mark, idLine(stream)), 1);
    }
    EXPECT_TRUE(logHasInOrder(mark, {"mux: current connections\n", idLine(streams.front()),
                                     idLine(streams.back()), "mux: add "}));
}

TEST_F(MuxClientList, SixtyFiveClientsAreCountedInOneLine) {
    addClients(65);
    const std::size_t mark = logMark();
    Stream next;
    mux.addClient(&next);
    mux.removeClient(&streams.front());

    const std::string log = logSince(mark);
    EXPECT_EQ(logCount(mark, "mux: current connections: 65 (list not shown above 64)\n"), 1) << log;
    EXPECT_EQ(logCount(mark, "mux: current connections: 66 (list not shown above 64)\n"), 1);
    EXPECT_EQ(logCount(mark, "mux: current connections\n"), 0);
    EXPECT_EQ(logCount(mark, idLine(streams.back())), 0);
    EXPECT_TRUE(
        logHasInOrder(mark, {countedList + "65", "mux: add ", countedList + "66", "mux: remove "}));
}

TEST_F(MuxClientList, RemovalBackToSixtyFourListsAgain) {
    addClients(66);
    mux.removeClient(&streams.front());
    const std::size_t mark = logMark();
    mux.removeClient(&streams.back());

    EXPECT_EQ(logCount(mark, countedList), 1);
    const std::size_t listed = logMark();
    mux.removeClient(&streams[1]);
    EXPECT_EQ(logCount(listed, "mux: current connections\n"), 1);
    EXPECT_EQ(logCount(listed, idLine(streams[2])), 1);
}

} // namespace
