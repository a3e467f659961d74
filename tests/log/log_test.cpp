// The process-wide log: both outputs, formats, hex dumps, threads, folders and files.
#include "log/log.h"
#include "log/log_format.h"
#include "log/log_platform.h"
#include "log_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

namespace {

const std::regex stampPattern(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d\d\d )");

class LogTest : public testing::Test {
protected:
    void TearDown() override { logClose(); }

    // Opens the log in a folder of its own and returns that folder.
    std::string openLog() {
        std::string folder = temp.file("logs");
        logOpenIn(folder);
        return folder;
    }

    TempFolder temp;
};

TEST_F(LogTest, UnstampedEntryIsWrittenVerbatimToBothOutputs) {
    const std::string folder = openLog();
    StderrCapture capture(temp.file("stderr"));
    logPrint(LogStamp::Without, "abc");
    const std::string console = capture.finish();
    logClose();

    EXPECT_EQ(console, "abc");
    EXPECT_EQ(readWholeFile(onlyFileIn(folder)), "abc");
}

TEST_F(LogTest, StampedEntryBeginsWithTheLocalTimePrefix) {
    openLog();
    StderrCapture capture(temp.file("stderr"));
    logPrint(LogStamp::With, "service: %s %d\n", "running", 4);
    const std::string console = capture.finish();

    ASSERT_EQ(console.size(), 24 + std::string("service: running 4\n").size());
    EXPECT_TRUE(std::regex_match(console.substr(0, 24), stampPattern)) << console;
    EXPECT_EQ(console.substr(24), "service: running 4\n");
}

TEST_F(LogTest, HexDumpIsLowerCaseWithATrailingBlank) {
    openLog();
    StderrCapture capture(temp.file("stderr"));
    const unsigned char bytes[] = {0x00, 0x0A, 0xFF};
    logHex(bytes, 3);
    logPrint(LogStamp::Without, "|");
    logHex(bytes, 0);
    logPrint(LogStamp::Without, "|");
    EXPECT_EQ(capture.finish(), "00 0a ff ||");
}

TEST_F(LogTest, FileCopyEqualsStandardErrorCopyByteForByte) {
    const std::string folder = openLog();
    StderrCapture capture(temp.file("stderr"));
    const unsigned char address[] = {0xC0, 0xFF, 0xEE, 0x01, 0x02, 0x03};
    logPrint(LogStamp::With, "BG conduit: GAP op connecting to address: ");
    logHex(address, sizeof address);
    logPrint(LogStamp::Without, "\n");
    logPrint(LogStamp::With, "mux: %s on port %d, %u%%\n", "listening", 9089, 100U);
    logPrint(LogStamp::With, "%s\n", std::string(5000, 'x').c_str());
    logPrint(LogStamp::Without, "\n");
    EXPECT_FALSE(capture.finish().empty());
    logClose();

    // Raw bytes: both copies carry the same line ends, whatever the platform makes of them.
    EXPECT_EQ(readRawFile(onlyFileIn(folder)), readRawFile(temp.file("stderr")));
}

// Each thread writes stamped lines and whole hex dumps of its own byte. Read back in
// order, the output must split into exactly those pieces, none broken by another.
TEST_F(LogTest, EntriesOfConcurrentThreadsNeverInterleave) {
    constexpr int threadCount = 4;
    constexpr int entriesPerThread = 150;
    constexpr size_t dumpLength = 48;
    const std::string folder = openLog();
    StderrCapture capture(temp.file("stderr"));
    std::vector<std::thread> writers;
    writers.reserve(threadCount);
    for (int t = 0; t < threadCount; ++t) {
        writers.emplace_back([t] {
            const std::vector<unsigned char> dump(dumpLength, static_cast<unsigned char>(0xA0 + t));
            const std::string filler(200, static_cast<char>('a' + t));
            for (int entry = 0; entry < entriesPerThread; ++entry) {
                logPrint(LogStamp::With, "thread %d entry %d %s\n", t, entry, filler.c_str());
                logHex(dump.data(), static_cast<uint32_t>(dump.size()));
            }
        });
    }
    for (std::thread& writer : writers) {
        writer.join();
    }
    const std::string console = capture.finish();
    logClose();

    const std::regex linePattern(R"(thread (\d) entry \d+ ([a-d])\2{199}\n)");
    std::vector<int> lines(threadCount, 0);
    std::vector<int> dumps(threadCount, 0);
    size_t at = 0;
    while (at < console.size()) {
        if (std::regex_match(console.substr(at, 24), stampPattern)) {
            const size_t end = console.find('\n', at);
            ASSERT_NE(end, std::string::npos);
            std::smatch match;
            const std::string body = console.substr(at + 24, end + 1 - at - 24);
            ASSERT_TRUE(std::regex_match(body, match, linePattern)) << body;
            ++lines[std::stoi(match[1].str())];
            at = end + 1;
            continue;
        }
        const std::string first = console.substr(at, 3);
        const std::string run = console.substr(at, 3 * dumpLength);
        std::string expected;
        for (size_t i = 0; i < dumpLength; ++i) {
            expected += first;
        }
        ASSERT_EQ(run, expected) << "broken dump at offset " << at;
        ++dumps[std::stoi(first, nullptr, 16) - 0xA0];
        at += run.size();
    }
    for (int t = 0; t < threadCount; ++t) {
        EXPECT_EQ(lines[t], entriesPerThread);
        EXPECT_EQ(dumps[t], entriesPerThread);
    }
    EXPECT_EQ(readWholeFile(onlyFileIn(folder)), console);
}

TEST_F(LogTest, FolderIsCreatedWithItsParentsAndTheFileNamedByTheStartTime) {
    const std::string folder = temp.file("a/b/c");
    logOpenIn(folder);
    const std::string path = logFilePath();
    ASSERT_FALSE(path.empty());
    EXPECT_TRUE(std::filesystem::equivalent(path, onlyFileIn(folder)));
    const std::string name = std::filesystem::path(path).filename().string();
    EXPECT_TRUE(
        std::regex_match(name, std::regex(R"(zevlog-\d{4}-\d\d-\d\d\.\d\d-\d\d-\d\d\.txt)")))
        << name;
}

TEST_F(LogTest, FolderThatCannotBeMadeLeavesStandardErrorAlone) {
    const std::string blocker = temp.file("blocker");
    std::ofstream(blocker) << "a file, not a folder";
    logOpenIn(blocker + "/logs");
    EXPECT_TRUE(logFilePath().empty());

    StderrCapture capture(temp.file("stderr"));
    logPrint(LogStamp::Without, "still written\n");
    EXPECT_EQ(capture.finish(), "still written\n");
    EXPECT_EQ(readWholeFile(blocker), "a file, not a folder");
}

TEST_F(LogTest, CallsBeforeOpenAndAfterCloseGoToStandardErrorOnly) {
    StderrCapture capture(temp.file("stderr"));
    const unsigned char byte = 0x5A;
    logPrint(LogStamp::Without, "before ");
    logHex(&byte, 1);
    const std::string folder = openLog();
    logPrint(LogStamp::Without, "while open ");
    logClose();
    logPrint(LogStamp::Without, "after ");
    logHex(&byte, 1);
    logClose();

    EXPECT_EQ(capture.finish(), "before 5a while open after 5a ");
    EXPECT_EQ(readWholeFile(onlyFileIn(folder)), "while open ");
    EXPECT_TRUE(logFilePath().empty());
}

// A crash and an automatic restart within one second give the same file name; the
// record of the first run must survive the second. Files for the next few seconds are
// prepared, so the open finds one of them whenever it runs.
TEST_F(LogTest, FileOfTheSameNameIsAppendedToNotTruncated) {
    const std::string folder = temp.file("logs");
    ASSERT_TRUE(makeFolder(folder));
    const int64_t now = wallClock100ns() / 10000000;
    std::vector<std::string> names;
    for (int64_t second = now; second < now + 3; ++second) {
        names.push_back(logFileName(localTimeOf(second)));
        std::ofstream(joinPath(folder, names.back())) << "first run\n";
    }
    logOpenIn(folder);
    logPrint(LogStamp::Without, "second run\n");
    logClose();

    int appended = 0;
    for (const std::string& name : names) {
        const std::string content = readWholeFile(joinPath(folder, name));
        EXPECT_TRUE(content == "first run\n" || content == "first run\nsecond run\n") << content;
        appended += content == "first run\nsecond run\n" ? 1 : 0;
    }
    EXPECT_EQ(appended, 1);
}

} // namespace
