// The Gob buffer: storage growth, copies, and the primitives in both modes.
#include "gob/gob.h"
#include "gob_test_util.h"

#include <gtest/gtest.h>

#include <utility>

namespace {

// Appends bytes 0, 1, 2, ... (mod 256) until the gob holds `count` bytes.
void appendCounting(Gob& gob, uint32_t count) {
    for (uint32_t i = gob.size(); i < count; ++i) {
        auto byte = static_cast<uint8_t>(i);
        ASSERT_EQ(codeU8(gob, byte), 0);
    }
}

bool holdsCounting(const Gob& gob) {
    for (uint32_t i = 0; i < gob.size(); ++i) {
        if (gob.storage()[i] != static_cast<uint8_t>(i)) {
            return false;
        }
    }
    return true;
}

TEST(GobStorage, StaysInlineUpTo127BytesThenDoublesOnTheHeap) {
    Gob gob;
    EXPECT_TRUE(gob.isWriting());
    EXPECT_EQ(gob.size(), 0u);
    appendCounting(gob, 127);
    EXPECT_FALSE(gob.isBig());
    EXPECT_EQ(gob.heapCapacity(), 0);

    appendCounting(gob, 128);
    EXPECT_TRUE(gob.isBig());
    EXPECT_EQ(gob.heapCapacity(), 254);
    EXPECT_EQ(gob.size(), 128u);
    EXPECT_TRUE(holdsCounting(gob));

    appendCounting(gob, 254);
    EXPECT_EQ(gob.heapCapacity(), 254);
    appendCounting(gob, 255);
    EXPECT_EQ(gob.heapCapacity(), 508);
    appendCounting(gob, 509);
    EXPECT_EQ(gob.heapCapacity(), 1016);
    EXPECT_EQ(gob.size(), 509u);
    EXPECT_TRUE(holdsCounting(gob));
}

TEST(GobStorage, ReceivedGobsAreInlineOrBigAsFramed) {
    const std::vector<uint8_t> five{6, 1, 2, 3, 4};
    Gob small = Gob::forReading(five.data(), 5, false);
    EXPECT_FALSE(small.isBig());
    EXPECT_FALSE(small.isWriting());

    Gob big = Gob::forReading(five.data(), 5, true);
    EXPECT_TRUE(big.isBig());
    EXPECT_EQ(big.heapCapacity(), 5);
    EXPECT_EQ(contentOf(big), five);

    const std::vector<uint8_t> long200(200, 0xAB);
    Gob large = Gob::forReading(long200.data(), 200, false);
    EXPECT_TRUE(large.isBig());
    EXPECT_EQ(contentOf(large), long200);
}

TEST(GobStorage, CopiesOwnTheirContent) {
    Gob big;
    appendCounting(big, 300);
    Gob copy = big;
    EXPECT_NE(copy.storage(), big.storage());
    EXPECT_EQ(contentOf(copy), contentOf(big));
    appendCounting(big, 600);
    EXPECT_EQ(copy.size(), 300u);
    EXPECT_TRUE(holdsCounting(copy));

    Gob inlineGob;
    appendCounting(inlineGob, 10);
    copy = inlineGob;
    EXPECT_FALSE(copy.isBig());
    EXPECT_EQ(contentOf(copy), contentOf(inlineGob));

    // A copy of a gob being read goes on from the same place.
    Gob reading = readingCopy(big);
    uint8_t byte = 0;
    ASSERT_EQ(codeU8(reading, byte), 0);
    Gob readingCopied = reading;
    ASSERT_EQ(codeU8(readingCopied, byte), 0);
    EXPECT_EQ(byte, 1);
}

TEST(GobStorage, MovingLeavesAnEmptyWritingGob) {
    Gob big;
    appendCounting(big, 200);
    const uint8_t* heap = big.storage();
    Gob moved = std::move(big);
    EXPECT_EQ(moved.storage(), heap);
    EXPECT_EQ(moved.size(), 200u);
    // The moved-from state is part of the contract: the gob can be built again.
    // NOLINTBEGIN(bugprone-use-after-move,clang-analyzer-cplusplus.Move)
    EXPECT_EQ(big.size(), 0u);
    EXPECT_FALSE(big.isBig());
    EXPECT_TRUE(big.isWriting());
    appendCounting(big, 3);
    EXPECT_TRUE(holdsCounting(big));
    // NOLINTEND(bugprone-use-after-move,clang-analyzer-cplusplus.Move)
}

TEST(GobPrimitives, WriteLittleEndianAndReadBack) {
    Gob gob;
    uint8_t byte = 0x7E;
    uint32_t value = 0x04030201;
    uint8_t bytes[3] = {0xA, 0xB, 0xC};
    ASSERT_EQ(codeType(gob, GobRead), 0);
    ASSERT_EQ(codeU8(gob, byte), 0);
    ASSERT_EQ(codeU32(gob, value), 0);
    ASSERT_EQ(codeBytes(gob, bytes, 3), 0);
    EXPECT_EQ(contentOf(gob), (std::vector<uint8_t>{6, 0x7E, 1, 2, 3, 4, 0xA, 0xB, 0xC}));

    Gob reading = readingCopy(gob);
    uint8_t byteRead = 0;
    uint32_t valueRead = 0;
    uint8_t bytesRead[3] = {};
    ASSERT_EQ(codeType(reading, GobRead), 0);
    ASSERT_EQ(codeU8(reading, byteRead), 0);
    ASSERT_EQ(codeU32(reading, valueRead), 0);
    ASSERT_EQ(codeBytes(reading, bytesRead, 3), 0);
    EXPECT_EQ(byteRead, 0x7E);
    EXPECT_EQ(valueRead, 0x04030201u);
    EXPECT_EQ(std::vector<uint8_t>(bytesRead, bytesRead + 3),
              (std::vector<uint8_t>{0xA, 0xB, 0xC}));
    EXPECT_TRUE(reading.atEnd());
}

TEST(GobPrimitives, FailedReadsLeaveTheCursorAsDescribed) {
    // A byte at the end: fails, cursor and byte unchanged.
    Gob one = readingCopy(std::vector<uint8_t>{9});
    uint8_t byte = 0x55;
    ASSERT_EQ(codeU8(one, byte), 0);
    byte = 0x55;
    EXPECT_EQ(codeU8(one, byte), -1);
    EXPECT_EQ(byte, 0x55);
    EXPECT_TRUE(one.atEnd());

    // A 32-bit value with 3 bytes left: fails after consuming them.
    Gob three = readingCopy(std::vector<uint8_t>{1, 2, 3});
    uint32_t value = 0xFFFFFFFF;
    EXPECT_EQ(codeU32(three, value), -1);
    EXPECT_EQ(value, 0x030201u);
    EXPECT_TRUE(three.atEnd());

    // Bytes: the ones before the missing byte are copied and consumed.
    Gob two = readingCopy(std::vector<uint8_t>{7, 8});
    uint8_t out[4] = {0, 0, 0, 0};
    EXPECT_EQ(codeBytes(two, out, 4), -1);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 4), (std::vector<uint8_t>{7, 8, 0, 0}));
    EXPECT_TRUE(two.atEnd());
    EXPECT_EQ(codeBytes(two, out, 0), 0);

    // Type: a missing byte or another type fails.
    Gob empty = readingCopy(std::vector<uint8_t>{});
    EXPECT_EQ(codeType(empty, GobStartScan), -1);
    Gob other = readingCopy(std::vector<uint8_t>{GobStopScan});
    EXPECT_EQ(codeType(other, GobStartScan), -1);
}

TEST(GobPrimitives, TakeRestAndSkipByte) {
    Gob gob = readingCopy(std::vector<uint8_t>{1, 2, 3, 4});
    gob.skipByte();
    const uint8_t* rest = nullptr;
    uint32_t count = 0;
    ASSERT_EQ(gob.takeRest(rest, count), 0);
    EXPECT_EQ(rest, gob.storage() + 1);
    EXPECT_EQ(count, 3u);
    EXPECT_TRUE(gob.atEnd());

    // At the end: an empty rest, and skipping never passes the end.
    ASSERT_EQ(gob.takeRest(rest, count), 0);
    EXPECT_EQ(count, 0u);
    gob.skipByte();
    EXPECT_TRUE(gob.atEnd());
    ASSERT_EQ(gob.takeRest(rest, count), 0);
    EXPECT_EQ(count, 0u);

    Gob writing;
    EXPECT_EQ(writing.takeRest(rest, count), -1);
    writing.skipByte();
    EXPECT_EQ(contentOf(writing), std::vector<uint8_t>{0});
}

} // namespace
