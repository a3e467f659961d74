// A log file that cannot be written (a full disk, through /dev/full; a folder removed;
// a folder that cannot be made): the file copy stops, standard error keeps every line,
// the failure is noted once, and a new file is tried at a later line start.
#include "log/log.h"
#include "log/log_format.h"
#include "log/log_platform.h"
#include "log_test_support.h"
#include "process_harness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using harness::countOf;

const std::string failureNote = "log: cannot ";
const std::string resumedNote = "log: writing the log file again: ";

class LogFailure : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(makeFolder(folder)); }

    void TearDown() override {
        logClose();
        logSetBounds(logDefaultBounds);
    }

    static void setRetrySeconds(int64_t seconds) {
        LogBounds bounds;
        bounds.retrySeconds = seconds;
        logSetBounds(bounds);
    }

    // Makes the first file of a start in this second or the next few a link to /dev/full,
    // so that whenever the open runs, it opens a file that takes no byte.
    void pointFirstFilesAtDevFull() {
        const int64_t now = wallClock100ns() / 10000000;
        for (int64_t second = now - 1; second < now + 5; ++second) {
            const std::string path = joinPath(folder, logFileName(localTimeOf(second)));
            ASSERT_EQ(symlink("/dev/full", path.c_str()), 0) << path;
            links.push_back(path);
        }
    }

    void removeLinks() {
        for (const std::string& path : links) {
            std::filesystem::remove(path);
        }
    }

    TempFolder temp;
    const std::string folder = temp.file("logs");
    std::vector<std::string> links;
};

TEST_F(LogFailure, FullDiskStopsTheFileCopyAndStandardErrorKeepsEveryLine) {
    pointFirstFilesAtDevFull();
    logOpenIn(folder);
    ASSERT_FALSE(logFilePath().empty());
    StderrCapture capture(temp.file("stderr"));
    std::string expected;
    for (int line = 0; line < 20; ++line) {
        logPrint(LogStamp::With, "service: line %d\n", line);
        expected += "service: line " + std::to_string(line) + "\n";
    }
    const std::string console = capture.finish();

    EXPECT_EQ(countOf(console, failureNote + "write "), 1) << console;
    EXPECT_NE(console.find("No space left on device"), std::string::npos) << console;
    std::string lines;
    for (std::size_t at = 0; at < console.size();) {
        const std::size_t end = console.find('\n', at);
        const std::string line = console.substr(at + 24, end - at - 24 + 1);
        lines += line.rfind(failureNote, 0) == 0 ? "" : line;
        at = end + 1;
    }
    EXPECT_EQ(lines, expected);
    EXPECT_TRUE(logFilePath().empty());
}

TEST_F(LogFailure, NewFileIsTriedAtTheNextLineStartAfterTheRetryTime) {
    setRetrySeconds(0);
    pointFirstFilesAtDevFull();
    logOpenIn(folder);
    const std::string first = logFilePath();
    StderrCapture capture(temp.file("stderr"));
    logPrint(LogStamp::With, "lost line\n");
    logPrint(LogStamp::With, "unfinished ");
    removeLinks();
    logPrint(LogStamp::Without, "line end\n");
    logPrint(LogStamp::With, "next line\n");
    const std::string console = capture.finish();

    // Nothing reached the failed file, so its own name is tried again, at a line start.
    EXPECT_EQ(logFilePath(), first);
    const std::string file = readWholeFile(first);
    ASSERT_EQ(countOf(file, "\n"), 2) << file;
    EXPECT_EQ(file.substr(24, resumedNote.size() + first.size()), resumedNote + first);
    EXPECT_EQ(file.substr(file.size() - 10), "next line\n");
    EXPECT_NE(console.find("unfinished line end\n"), std::string::npos) << console;
    EXPECT_EQ(countOf(console, failureNote), 1);
    EXPECT_EQ(countOf(console, resumedNote), 1);
    EXPECT_EQ(console.substr(console.size() - 10), "next line\n");
}

TEST_F(LogFailure, FolderThatCannotBeMadeIsNotedOnceAndTriedAgain) {
    setRetrySeconds(0);
    const std::string blocked = temp.file("blocker");
    std::ofstream(blocked) << "a file where the folder belongs";
    StderrCapture capture(temp.file("stderr"));
    logOpenIn(blocked);
    for (int line = 0; line < 3; ++line) {
        logPrint(LogStamp::With, "conduit: line %d\n", line);
    }
    std::filesystem::remove(blocked);
    logPrint(LogStamp::With, "conduit: line 3\n");
    const std::string console = capture.finish();

    EXPECT_EQ(countOf(console, failureNote + "open "), 1) << console;
    EXPECT_EQ(countOf(console, "conduit: line "), 4);
    const std::string file = readWholeFile(logFilePath());
    EXPECT_NE(file.find(resumedNote), std::string::npos) << file;
    EXPECT_EQ(file.substr(file.size() - 16), "conduit: line 3\n");
}

// On Linux an open file outlives its folder; the log makes the folder again when it
// begins its next file.
TEST_F(LogFailure, FolderRemovedUnderTheLogIsMadeAgainAtTheNextFile) {
    LogBounds bounds;
    bounds.fileBytes = 50;
    logSetBounds(bounds);
    logOpenIn(folder);
    const std::string first = logFilePath();
    StderrCapture capture(temp.file("stderr"));
    logPrint(LogStamp::Without, "first line, in the removed file\n");
    std::filesystem::remove_all(folder);
    logPrint(LogStamp::Without, "second line, in the removed file\n");
    logPrint(LogStamp::Without, "third line, in a new file\n");
    const std::string console = capture.finish();

    EXPECT_EQ(logFilePath(), first.substr(0, first.size() - 4) + ".2.txt");
    EXPECT_EQ(readWholeFile(logFilePath()), "third line, in a new file\n");
    EXPECT_EQ(console, "first line, in the removed file\nsecond line, in the removed file\n"
                       "third line, in a new file\n");
}

} // namespace
