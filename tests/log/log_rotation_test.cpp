// The log on disk: continuation files at the per-file bound, whole lines in every file,
// and the folder bound applied at start and at every new file.
#include "log/log.h"
#include "log/log_platform.h"
#include "log_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

class LogRotation : public testing::Test {
protected:
    void TearDown() override {
        logClose();
        logSetBounds(logDefaultBounds);
    }

    // Opens the log with the given bounds; returns the name of its first file.
    std::string openWith(uint64_t fileBytes, uint64_t folderBytes) {
        LogBounds bounds;
        bounds.fileBytes = fileBytes;
        bounds.folderBytes = folderBytes;
        logSetBounds(bounds);
        logOpenIn(folder);
        return std::filesystem::path(logFilePath()).filename().string();
    }

    // The file of the start that `first` names with number `sequence`.
    static std::string numbered(const std::string& first, int sequence) {
        return first.substr(0, first.size() - 4) + "." + std::to_string(sequence) + ".txt";
    }

    std::string content(const std::string& name) const {
        return readWholeFile(joinPath(folder, name));
    }

    bool exists(const std::string& name) const {
        return std::filesystem::exists(joinPath(folder, name));
    }

    TempFolder temp;
    const std::string folder = temp.file("logs");
};

// 30 characters, a line end included: four make 120 bytes (124 with Windows line ends).
void writeLines(int first, int count) {
    for (int line = first; line < first + count; ++line) {
        logPrint(LogStamp::Without, "line %.2d of the rotation test\n", line);
    }
}

std::string linesText(int first, int count) {
    std::string text;
    for (int line = first; line < first + count; ++line) {
        char one[64];
        std::snprintf(one, sizeof one, "line %.2d of the rotation test\n", line);
        text += one;
    }
    return text;
}

TEST_F(LogRotation, FilePastTheBoundContinuesInNumberedFilesAtTheNextLine) {
    const std::string first = openWith(100, uint64_t{1} << 30);
    StderrCapture capture(temp.file("stderr"));
    writeLines(0, 10);
    const std::string console = capture.finish();
    logClose();

    // A file takes lines until it has passed 100 bytes; the next line begins a new one.
    EXPECT_EQ(content(first), linesText(0, 4));
    EXPECT_EQ(content(numbered(first, 2)), linesText(4, 4));
    EXPECT_EQ(content(numbered(first, 3)), linesText(8, 2));
    EXPECT_FALSE(exists(numbered(first, 4)));
    EXPECT_EQ(console, linesText(0, 10));
}

TEST_F(LogRotation, LineOfSeveralEntriesIsNeverSplitBetweenFiles) {
    // Each line takes 107 bytes: two lines pass the bound of 150.
    const std::string first = openWith(150, uint64_t{1} << 30);
    StderrCapture capture(temp.file("stderr"));
    const std::vector<unsigned char> address(20, 0xAB);
    for (int line = 0; line < 7; ++line) {
        logPrint(LogStamp::With, "mux: received gob: ");
        logHex(address.data(), static_cast<uint32_t>(address.size()));
        logPrint(LogStamp::Without, "(%d)", line);
        logPrint(LogStamp::Without, "\n");
    }
    const std::string console = capture.finish();
    logClose();

    const std::regex line(
        R"((\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} mux: received gob: (ab ){20}\(\d\)\n)+)");
    std::string joined;
    for (int sequence = 1; sequence <= 4; ++sequence) {
        const std::string name = sequence == 1 ? first : numbered(first, sequence);
        ASSERT_TRUE(exists(name)) << name;
        const std::string text = content(name);
        EXPECT_TRUE(std::regex_match(text, line)) << name << ":\n" << text;
        joined += text;
    }
    EXPECT_FALSE(exists(numbered(first, 5)));
    EXPECT_EQ(joined, console);
}

TEST_F(LogRotation, EachNewFileRemovesTheOldestLogFilesButNeverTheCurrentOrOthers) {
    ASSERT_TRUE(makeFolder(folder));
    std::ofstream(joinPath(folder, "notes.txt")) << std::string(1000, 'n');
    std::filesystem::create_directory(joinPath(folder, "zevlog-1999-01-01.00-00-00.txt"));
    // Each file holds 120 bytes (124 on Windows) before the next begins; the folder keeps 200.
    const std::string first = openWith(100, 200);
    writeLines(0, 16);
    logClose();

    EXPECT_FALSE(exists(first));
    EXPECT_FALSE(exists(numbered(first, 2)));
    EXPECT_EQ(content(numbered(first, 3)), linesText(8, 4));
    EXPECT_EQ(content(numbered(first, 4)), linesText(12, 4));
    EXPECT_EQ(content("notes.txt"), std::string(1000, 'n'));
    EXPECT_TRUE(std::filesystem::is_directory(joinPath(folder, "zevlog-1999-01-01.00-00-00.txt")));
}

TEST_F(LogRotation, StartRemovesTheOldestLogFilesOfEarlierStarts) {
    ASSERT_TRUE(makeFolder(folder));
    for (const char* name : {"zevlog-2020-01-01.00-00-00.txt", "zevlog-2020-01-01.00-00-00.2.txt",
                             "zevlog-2021-01-01.00-00-00.txt"}) {
        std::ofstream(joinPath(folder, name)) << std::string(100, 'o');
    }
    std::ofstream(joinPath(folder, "zevlog.txt")) << std::string(100, 'z');
    const std::string first = openWith(1000, 250);

    EXPECT_FALSE(exists("zevlog-2020-01-01.00-00-00.txt"));
    EXPECT_TRUE(exists("zevlog-2020-01-01.00-00-00.2.txt"));
    EXPECT_TRUE(exists("zevlog-2021-01-01.00-00-00.txt"));
    EXPECT_TRUE(exists("zevlog.txt"));
    EXPECT_TRUE(exists(first));
}

} // namespace
