// Windows side of the log seam: GetSystemTimeAsFileTime, localtime_s, the log folder
// "zevlog" under the Public Documents known folder, and the folder's files through
// FindFirstFileA. Safe on any thread.
#include "log/log_platform.h"

#include <ctime>
#include <windows.h>

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

namespace {

// 100-nanosecond units from 1601-01-01 (the FILETIME epoch) to 1970-01-01.
constexpr int64_t fileTimeEpochTo1970 = 116444736000000000LL;

// The 8-bit form of a UTF-16 path. ASCII units keep their low 8 bits; a path with other
// characters goes through the ANSI code page that CreateDirectoryA and fopen use, and is
// refused (empty result) when that code page cannot name it exactly.
std::string narrowPath(const wchar_t* wide) {
    std::string narrow;
    bool ascii = true;
    for (const wchar_t* unit = wide; *unit != L'\0'; ++unit) {
        ascii = ascii && *unit < 0x80;
        narrow += static_cast<char>(*unit & 0xFF);
    }
    if (ascii) {
        return narrow;
    }
    BOOL lossy = FALSE;
    const int size =
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, nullptr, 0, nullptr, &lossy);
    if (size <= 1 || lossy) {
        return {};
    }
    narrow.assign(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, narrow.data(), size, nullptr,
                        &lossy);
    narrow.resize(static_cast<size_t>(size) - 1);
    return lossy ? std::string() : narrow;
}

bool isFolder(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

} // namespace

int64_t wallClock100ns() {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const uint64_t since1601 =
        (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<int64_t>(since1601) - fileTimeEpochTo1970;
}

LocalTime localTimeOf(int64_t seconds) {
    const auto clock = static_cast<time_t>(seconds);
    tm local{};
    localtime_s(&local, &clock);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
            local.tm_hour,        local.tm_min,     local.tm_sec};
}

std::string logFolder() {
    PWSTR documents = nullptr;
    const HRESULT found = SHGetKnownFolderPath(FOLDERID_PublicDocuments, 0, nullptr, &documents);
    std::string folder = SUCCEEDED(found) ? narrowPath(documents) : std::string();
    CoTaskMemFree(documents);
    if (folder.empty()) {
        return {};
    }
    return folder + "\\zevlog";
}

bool makeFolder(const std::string& path) {
    // Parents first; "C:\" and "\\server\share" prefixes fail harmlessly.
    for (size_t separator = path.find_first_of("\\/", 1); separator != std::string::npos;
         separator = path.find_first_of("\\/", separator + 1)) {
        CreateDirectoryA(path.substr(0, separator).c_str(), nullptr);
    }
    CreateDirectoryA(path.c_str(), nullptr);
    return isFolder(path);
}

std::string joinPath(const std::string& folder, const std::string& name) {
    return folder + "\\" + name;
}

std::vector<FolderFile> filesOf(const std::string& folder) {
    std::vector<FolderFile> files;
    WIN32_FIND_DATAA found{};
    const HANDLE search = FindFirstFileA(joinPath(folder, "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return files;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            const uint64_t bytes =
                (static_cast<uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
            files.push_back({found.cFileName, bytes});
        }
    } while (FindNextFileA(search, &found) != 0);
    FindClose(search);
    return files;
}

// fopen opens without FILE_SHARE_DELETE, so while the log holds its file neither the file
// nor its folder can be deleted: the removal fails, and the open file keeps its name.
bool fileIsRemoved(FILE* /*file*/) {
    return false;
}

// Text mode writes "\r\n" for every "\n".
int lineEndBytesOnDisk() {
    return 2;
}
