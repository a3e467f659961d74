// A log file that cannot be written (a full disk, through /dev/full; a file or folder
// removed under the log; a folder that cannot be made): the file copy stops, standard
// error keeps every line, the failure is noted once, and a new file is tried at a later
// line start.
#include "log/log.h"
#include "log/log_format.h"
#include "log/log_platform.h"
#include "log_test_support.h"
#include "process_harness.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
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
    const std::string path = logFilePath();
    ASSERT_FALSE(path.empty());
    StderrCapture capture(temp.file("stderr"));
    std::string expected;
    for (int line = 0; line < 20; ++line) {
        logPrint(LogStamp::With, "service: line %d\n", line);
        expected += "service: line " + std::to_string(line) + "\n";
    }
    const std::string console = capture.finish();

    EXPECT_EQ(countOf(console, failureNote + "write "), 1) << console;
    EXPECT_EQ(countOf(console, failureNote + "write " + path + ": No space left on device"), 1)
        << console;
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

// Waits (at most 3 s) until the wall clock is in a later second than at the call, so that
// the next stamped entry is the first of its second and looks for a removed file.
void waitForTheNextSecond() {
    const int64_t second = wallClock100ns() / 10000000;
    for (int step = 0; step < 300 && wallClock100ns() / 10000000 == second; ++step) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

// The lines of standard error that are not the log's own notes, stamps taken off.
std::string serviceLines(const std::string& console) {
    std::string lines;
    for (std::size_t at = 0; at < console.size();) {
        const std::size_t end = console.find('\n', at);
        const std::string line = console.substr(at + 24, end - at - 24 + 1);
        lines += line.rfind("log: ", 0) == 0 ? "" : line;
        at = end + 1;
    }
    return lines;
}

std::string continuationOf(const std::string& first) {
    return first.substr(0, first.size() - 4) + ".2.txt";
}

TEST_F(LogFailure, FileRemovedUnderTheLogIsNotedOnceAndLaterLinesReachANewFile) {
    setRetrySeconds(0);
    logOpenIn(folder);
    const std::string first = logFilePath();
    StderrCapture capture(temp.file("stderr"));
    logPrint(LogStamp::With, "service: line 0\n");
    std::filesystem::remove(first);
    waitForTheNextSecond();
    logPrint(LogStamp::With, "service: line 1\n");
    logPrint(LogStamp::With, "service: line 2\n");
    waitForTheNextSecond();
    logPrint(LogStamp::With, "service: line 3\n");
    const std::string console = capture.finish();

    EXPECT_EQ(countOf(console, failureNote + "write " + first + ": No such file or directory"), 1)
        << console;
    EXPECT_EQ(countOf(console, resumedNote), 1) << console;
    EXPECT_EQ(serviceLines(console), "service: line 0\nservice: line 1\nservice: line 2\n"
                                     "service: line 3\n");
    // The removed file had taken a line, so the next number begins.
    ASSERT_EQ(logFilePath(), continuationOf(first));
    EXPECT_FALSE(std::filesystem::exists(first));
    const std::string file = readWholeFile(logFilePath());
    EXPECT_EQ(file.substr(24, resumedNote.size()), resumedNote) << file;
    EXPECT_EQ(serviceLines(file), "service: line 1\nservice: line 2\nservice: line 3\n");
}

TEST_F(LogFailure, FolderRemovedUnderTheLogIsNotedOnceAndMadeAgainAtTheRetry) {
    setRetrySeconds(1);
    logOpenIn(folder);
    const std::string first = logFilePath();
    StderrCapture capture(temp.file("stderr"));
    logPrint(LogStamp::With, "conduit: line 0\n");
    std::filesystem::remove_all(folder);
    waitForTheNextSecond();
    logPrint(LogStamp::With, "conduit: line 1\n");
    logPrint(LogStamp::With, "conduit: line 2\n");
    // Past the retry time: the next line begins a new file.
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    logPrint(LogStamp::With, "conduit: line 3\n");
    logPrint(LogStamp::With, "conduit: line 4\n");
    const std::string console = capture.finish();

    EXPECT_EQ(countOf(console, failureNote + "write " + first + ": No such file or directory"), 1)
        << console;
    EXPECT_EQ(countOf(console, failureNote), 1) << console;
    EXPECT_NE(console.find("a new file is tried 1 s after the failure"), std::string::npos);
    EXPECT_EQ(serviceLines(console), "conduit: line 0\nconduit: line 1\nconduit: line 2\n"
                                     "conduit: line 3\nconduit: line 4\n");
    ASSERT_EQ(logFilePath(), continuationOf(first));
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_FALSE(std::filesystem::exists(first));
    // Lines between the failure and the retry are on standard error only.
    const std::string file = readWholeFile(logFilePath());
    EXPECT_EQ(file.substr(24, resumedNote.size()), resumedNote) << file;
    EXPECT_EQ(serviceLines(file), "conduit: line 3\nconduit: line 4\n");
}

} // namespace
