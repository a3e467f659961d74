// The Windows log seam: the wall clock's epoch, the log folder under Public Documents,
// folder creation with parents, and the path separator. Single-threaded.
#include "log/log.h"
#include "log/log_platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <windows.h>

#include <knownfolders.h>
#include <shlobj.h>

namespace {

bool isFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::string freshTempFolder() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    return std::string(temp) + "linkrelay-log-" + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(GetTickCount64());
}

TEST(LogPlatformWin32, WallClockCountsFrom1970) {
    // The system clock reads from 1601; the log's readings must agree with the C++
    // clock, whose epoch is 1970, to well within a minute.
    const int64_t log = wallClock100ns() / 10000000;
    const int64_t reference = std::chrono::duration_cast<std::chrono::seconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count();
    EXPECT_LT(std::llabs(log - reference), 60);
}

TEST(LogPlatformWin32, LocalTimeOfAReadingMatchesTheCalendar) {
    // 2026-12-08 03:22:05 local time, built with the C library's own conversion.
    tm wanted{};
    wanted.tm_year = 126;
    wanted.tm_mon = 11;
    wanted.tm_mday = 8;
    wanted.tm_hour = 3;
    wanted.tm_min = 22;
    wanted.tm_sec = 5;
    wanted.tm_isdst = -1;
    const LocalTime local = localTimeOf(static_cast<int64_t>(mktime(&wanted)));
    EXPECT_EQ(logFileName(local), "zevlog-2026-12-08.03-22-05.txt");
}

TEST(LogPlatformWin32, FolderIsZevlogUnderPublicDocuments) {
    PWSTR documents = nullptr;
    ASSERT_TRUE(SUCCEEDED(SHGetKnownFolderPath(FOLDERID_PublicDocuments, 0, nullptr, &documents)));
    std::string expected;
    for (const wchar_t* unit = documents; *unit != L'\0'; ++unit) {
        expected += static_cast<char>(*unit);
    }
    CoTaskMemFree(documents);
    EXPECT_EQ(logFolder(), expected + "\\zevlog");
}

TEST(LogPlatformWin32, MakeFolderCreatesMissingParentsAndAcceptsAnExistingOne) {
    const std::string root = freshTempFolder();
    const std::string nested = joinPath(joinPath(root, "a"), "b");
    EXPECT_EQ(nested, root + "\\a\\b");
    EXPECT_TRUE(makeFolder(nested));
    EXPECT_TRUE(isFolder(nested));
    EXPECT_TRUE(makeFolder(nested));
    RemoveDirectoryA(nested.c_str());
    RemoveDirectoryA(joinPath(root, "a").c_str());
    RemoveDirectoryA(root.c_str());
}

TEST(LogPlatformWin32, MakeFolderFailsWhereAFileStands) {
    const std::string root = freshTempFolder();
    ASSERT_TRUE(makeFolder(root));
    const std::string file = joinPath(root, "plain");
    FILE* stream = std::fopen(file.c_str(), "w");
    ASSERT_NE(stream, nullptr);
    std::fclose(stream);
    EXPECT_FALSE(makeFolder(file));
    EXPECT_FALSE(makeFolder(joinPath(file, "below")));
    DeleteFileA(file.c_str());
    RemoveDirectoryA(root.c_str());
}

TEST(LogPlatformWin32, LogOpenInAFolderBelowAFileWritesStandardErrorOnly) {
    const std::string root = freshTempFolder();
    ASSERT_TRUE(makeFolder(root));
    const std::string file = joinPath(root, "plain");
    FILE* stream = std::fopen(file.c_str(), "w");
    ASSERT_NE(stream, nullptr);
    std::fclose(stream);
    logOpenIn(joinPath(file, "zevlog"));
    EXPECT_EQ(logFilePath(), "");
    logPrint(LogStamp::With, "log: standard error only\n");
    logClose();
    DeleteFileA(file.c_str());
    RemoveDirectoryA(root.c_str());
}

} // namespace
