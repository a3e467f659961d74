// The folder bound: which log files go, in which order, and that nothing else is touched.
#include "log/log_platform.h"
#include "log/log_retention.h"
#include "log_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Names = std::vector<std::string>;

TEST(LogRetention, OnlyZevlogTxtNamesAreLogFiles) {
    EXPECT_TRUE(isLogFileName("zevlog-2026-12-08.03-22-05.txt"));
    EXPECT_TRUE(isLogFileName("zevlog-2026-12-08.03-22-05.2.txt"));
    EXPECT_TRUE(isLogFileName("zevlog-.txt"));
    EXPECT_FALSE(isLogFileName("zevlog-2026-12-08.03-22-05.txt.bak"));
    EXPECT_FALSE(isLogFileName("zevlog.txt"));
    EXPECT_FALSE(isLogFileName("notes.txt"));
    EXPECT_FALSE(isLogFileName("Zevlog-2026-12-08.03-22-05.txt"));
}

TEST(LogRetention, OldestStartGoesFirstThenLowestNumber) {
    const std::vector<FolderFile> files{
        {"zevlog-2026-12-08.03-22-05.10.txt", 100}, {"zevlog-2026-12-08.03-22-05.2.txt", 100},
        {"zevlog-2026-12-09.00-00-00.txt", 100},    {"zevlog-2026-12-08.03-22-05.txt", 100},
        {"zevlog-2025-01-01.00-00-00.3.txt", 100},  {"zevlog-2026-12-10.00-00-00.txt", 100},
    };
    EXPECT_EQ(logFilesToRemove(files, "zevlog-2026-12-10.00-00-00.txt", 100),
              (Names{"zevlog-2025-01-01.00-00-00.3.txt", "zevlog-2026-12-08.03-22-05.txt",
                     "zevlog-2026-12-08.03-22-05.2.txt", "zevlog-2026-12-08.03-22-05.10.txt",
                     "zevlog-2026-12-09.00-00-00.txt"}));
    EXPECT_EQ(logFilesToRemove(files, "zevlog-2026-12-10.00-00-00.txt", 450),
              (Names{"zevlog-2025-01-01.00-00-00.3.txt", "zevlog-2026-12-08.03-22-05.txt"}));
}

TEST(LogRetention, NothingGoesWhileTheLogFilesFit) {
    const std::vector<FolderFile> files{{"zevlog-2026-12-08.03-22-05.txt", 300},
                                        {"zevlog-2026-12-09.00-00-00.txt", 200},
                                        {"other.bin", 5000}};
    EXPECT_TRUE(logFilesToRemove(files, "zevlog-2026-12-09.00-00-00.txt", 500).empty());
    EXPECT_EQ(logFilesToRemove(files, "zevlog-2026-12-09.00-00-00.txt", 499),
              Names{"zevlog-2026-12-08.03-22-05.txt"});
}

TEST(LogRetention, TheCurrentFileStaysEvenWhenItAloneIsOverTheBound) {
    const std::vector<FolderFile> files{{"zevlog-2026-12-08.03-22-05.txt", 10},
                                        {"zevlog-2026-12-08.03-22-05.2.txt", 1000}};
    EXPECT_EQ(logFilesToRemove(files, "zevlog-2026-12-08.03-22-05.txt", 100),
              Names{"zevlog-2026-12-08.03-22-05.2.txt"});
    EXPECT_EQ(logFilesToRemove(files, "zevlog-2026-12-08.03-22-05.2.txt", 100),
              Names{"zevlog-2026-12-08.03-22-05.txt"});
}

void writeFile(const std::string& path, std::size_t bytes) {
    std::ofstream(path, std::ios::binary) << std::string(bytes, 'x');
}

TEST(LogRetention, FolderLosesOnlyItsOldestLogFiles) {
    const TempFolder temp;
    const std::string folder = temp.path();
    for (const char* name : {"zevlog-2020-01-01.00-00-00.txt", "zevlog-2020-01-01.00-00-00.2.txt",
                             "zevlog-2021-06-01.12-00-00.txt", "zevlog-2022-06-01.12-00-00.txt",
                             "notes.txt", "zevlog-2019-01-01.00-00-00.txt.old"}) {
        writeFile(joinPath(folder, name), 100);
    }
    std::filesystem::create_directory(joinPath(folder, "zevlog-2000-01-01.00-00-00.txt"));

    enforceFolderBound(folder, "zevlog-2022-06-01.12-00-00.txt", 250);

    Names left;
    for (const FolderFile& file : filesOf(folder)) {
        left.push_back(file.name);
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (Names{"notes.txt", "zevlog-2019-01-01.00-00-00.txt.old",
                           "zevlog-2021-06-01.12-00-00.txt", "zevlog-2022-06-01.12-00-00.txt"}));
    EXPECT_TRUE(std::filesystem::is_directory(joinPath(folder, "zevlog-2000-01-01.00-00-00.txt")));
}

} // namespace
