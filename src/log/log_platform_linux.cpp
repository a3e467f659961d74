// Linux side of the log seam: clock_gettime, localtime_r, the log folder chosen as
// systemd's $LOGS_DIRECTORY, else /var/log/zevlog for root, else the user's state folder,
// the folder's files through readdir and stat, and a removed open file by its link count.
#include "log/log_platform.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

int64_t wallClock100ns() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<int64_t>(now.tv_sec) * 10000000 + now.tv_nsec / 100;
}

LocalTime localTimeOf(int64_t seconds) {
    const auto clock = static_cast<time_t>(seconds);
    tm local{};
    localtime_r(&clock, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
            local.tm_hour,        local.tm_min,     local.tm_sec};
}

namespace {

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

} // namespace

std::string logFolder() {
    const std::string systemdLogs = environment("LOGS_DIRECTORY");
    if (!systemdLogs.empty()) {
        // systemd may list several folders separated by colons; the first is ours.
        return systemdLogs.substr(0, systemdLogs.find(':'));
    }
    if (geteuid() == 0) {
        return "/var/log/zevlog";
    }
    const std::string state = environment("XDG_STATE_HOME");
    if (!state.empty()) {
        return state + "/zevlog";
    }
    const std::string home = environment("HOME");
    if (!home.empty()) {
        return home + "/.local/state/zevlog";
    }
    return {};
}

bool makeFolder(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        mkdir(path.substr(0, slash).c_str(), 0755);
    }
    if (mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) {
        struct stat info {};
        return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }
    return false;
}

std::string joinPath(const std::string& folder, const std::string& name) {
    return folder + "/" + name;
}

std::vector<FolderFile> filesOf(const std::string& folder) {
    std::vector<FolderFile> files;
    DIR* listing = opendir(folder.c_str());
    if (listing == nullptr) {
        return files;
    }
    while (const dirent* entry = readdir(listing)) {
        struct stat info {};
        if (stat(joinPath(folder, entry->d_name).c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            files.push_back({entry->d_name, static_cast<uint64_t>(info.st_size)});
        }
    }
    closedir(listing);
    return files;
}

bool fileIsRemoved(FILE* file) {
    struct stat info {};
    return fstat(fileno(file), &info) == 0 && info.st_nlink == 0;
}

int lineEndBytesOnDisk() {
    return 1;
}
