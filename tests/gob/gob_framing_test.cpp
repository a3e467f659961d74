// Framing: the prefixes written, and the parser's gobs across chunk boundaries and its
// refusal of malformed frames.
#include "gob/gob_framing.h"
#include "gob_test_util.h"

#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> prefixOf(uint32_t length) {
    uint8_t prefix[gobPrefixMaxSize] = {};
    const uint32_t size = encodeGobPrefix(length, prefix);
    return {prefix, prefix + size};
}

Gob gobOfSize(uint32_t size) {
    Gob gob;
    for (uint32_t i = 0; i < size; ++i) {
        auto byte = static_cast<uint8_t>(i * 7);
        codeU8(gob, byte);
    }
    return gob;
}

void feed(GobFrameParser& parser, const std::vector<uint8_t>& bytes) {
    parser.feed(bytes.data(), bytes.size());
}

// Every gob the parser has ready, then the status that ended the run.
std::vector<Gob> drain(GobFrameParser& parser, GobFrameStatus& last) {
    std::vector<Gob> gobs;
    Gob gob;
    while ((last = parser.next(gob)) == GobFrameStatus::Gob) {
        gobs.push_back(gob);
    }
    return gobs;
}

TEST(GobFraming, PrefixUsesTheShortestForm) {
    EXPECT_EQ(prefixOf(1), std::vector<uint8_t>{0x01});
    EXPECT_EQ(prefixOf(126), std::vector<uint8_t>{0x7E});
    EXPECT_EQ(prefixOf(127), (std::vector<uint8_t>{0x81, 0x7F}));
    EXPECT_EQ(prefixOf(255), (std::vector<uint8_t>{0x81, 0xFF}));
    EXPECT_EQ(prefixOf(300), (std::vector<uint8_t>{0x82, 0x2C, 0x01}));
    EXPECT_EQ(prefixOf(65535), (std::vector<uint8_t>{0x82, 0xFF, 0xFF}));
    EXPECT_EQ(prefixOf(65536), (std::vector<uint8_t>{0x83, 0x00, 0x00, 0x01}));
    EXPECT_EQ(prefixOf(0x01000000), (std::vector<uint8_t>{0x84, 0, 0, 0, 1}));
}

TEST(GobFraming, FramerPutsPrefixBeforeContentAndGrows) {
    GobFramer framer;
    for (uint32_t size : {126u, 127u, 300u, 20u, 5000u, 3u}) {
        SCOPED_TRACE(size);
        const Gob gob = gobOfSize(size);
        const auto frame = framer.frame(gob);
        auto expected = prefixOf(size);
        const auto content = contentOf(gob);
        expected.insert(expected.end(), content.begin(), content.end());
        EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.end()), expected);
    }
}

TEST(GobFraming, ParserTakesFramesOfBothFormsAnywhereInTheChunks) {
    GobFrameParser parser;
    GobFrameStatus last{};

    // A 3-byte gob of type 6, inline.
    feed(parser, {0x03, 0x06, 0x11, 0x22});
    auto gobs = drain(parser, last);
    EXPECT_EQ(last, GobFrameStatus::NeedMore);
    ASSERT_EQ(gobs.size(), 1u);
    EXPECT_EQ(contentOf(gobs[0]), (std::vector<uint8_t>{0x06, 0x11, 0x22}));
    EXPECT_FALSE(gobs[0].isBig());
    EXPECT_FALSE(gobs[0].isWriting());

    // Two frames in one chunk, in order; the second in extended form is big though small.
    feed(parser, {0x01, 0x00, 0x81, 0x05, 0x0B, 1, 2, 3, 4});
    gobs = drain(parser, last);
    ASSERT_EQ(gobs.size(), 2u);
    EXPECT_EQ(contentOf(gobs[0]), std::vector<uint8_t>{0x00});
    EXPECT_EQ(contentOf(gobs[1]), (std::vector<uint8_t>{0x0B, 1, 2, 3, 4}));
    EXPECT_TRUE(gobs[1].isBig());
    EXPECT_EQ(gobs[1].heapCapacity(), 5);

    // 127 bytes in the one-byte form stay inline.
    std::vector<uint8_t> oneByteForm{0x7F};
    const auto content127 = contentOf(gobOfSize(127));
    oneByteForm.insert(oneByteForm.end(), content127.begin(), content127.end());
    feed(parser, oneByteForm);
    gobs = drain(parser, last);
    ASSERT_EQ(gobs.size(), 1u);
    EXPECT_FALSE(gobs[0].isBig());
    EXPECT_EQ(contentOf(gobs[0]), content127);
}

TEST(GobFraming, FramesSplitAcrossChunksArriveWhole) {
    GobFramer framer;
    std::vector<uint8_t> stream;
    std::vector<std::vector<uint8_t>> sent;
    for (uint32_t size : {1u, 126u, 127u, 300u, 65536u, 9u}) {
        const Gob gob = gobOfSize(size);
        sent.push_back(contentOf(gob));
        const auto frame = framer.frame(gob);
        stream.insert(stream.end(), frame.begin(), frame.end());
    }

    for (size_t chunkSize : {size_t{1}, size_t{2}, size_t{7}, size_t{8191}}) {
        SCOPED_TRACE(chunkSize);
        GobFrameParser parser;
        std::vector<std::vector<uint8_t>> received;
        GobFrameStatus last{};
        for (size_t at = 0; at < stream.size(); at += chunkSize) {
            parser.feed(stream.data() + at, std::min(chunkSize, stream.size() - at));
            for (const Gob& gob : drain(parser, last)) {
                received.push_back(contentOf(gob));
            }
            ASSERT_EQ(last, GobFrameStatus::NeedMore);
        }
        EXPECT_EQ(received, sent);
    }
}

TEST(GobFraming, MalformedFramesAreReportedAndStayReported) {
    const std::vector<std::vector<uint8_t>> malformed{
        {0x00},                   // empty frame
        {0x81, 0x00},             // empty frame in extended form
        {0x80, 0x01, 0x00},       // extended form with no length bytes
        {0x85, 1, 0, 0, 0, 0},    // more than 4 length bytes
        {0xFF},                   // likewise
        {0x83, 0x01, 0x00, 0x01}, // 65,537 bytes: reported before any content arrives
        {0x84, 0xFF, 0xFF, 0xFF, 0xFF},
    };
    for (const auto& bytes : malformed) {
        SCOPED_TRACE(testing::PrintToString(bytes));
        GobFrameParser parser;
        // A good frame before it is still delivered.
        feed(parser, {0x01, 0x00});
        feed(parser, bytes);
        GobFrameStatus last{};
        EXPECT_EQ(drain(parser, last).size(), 1u);
        EXPECT_EQ(last, GobFrameStatus::Malformed);
        feed(parser, {0x01, 0x00});
        Gob gob;
        EXPECT_EQ(parser.next(gob), GobFrameStatus::Malformed);
    }

    // The largest gob accepted is 65,536 bytes; an incomplete prefix waits.
    GobFrameParser parser;
    feed(parser, {0x83, 0x00});
    Gob gob;
    EXPECT_EQ(parser.next(gob), GobFrameStatus::NeedMore);
    feed(parser, {0x00, 0x01});
    EXPECT_EQ(parser.next(gob), GobFrameStatus::NeedMore);
}

} // namespace
