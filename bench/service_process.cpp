// The service as a child process. See service_process.h.
#include "service_process.h"

#include "bench_clock.h"
#include "gob/gob_protocol.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

bool portFree() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(gobDefaultPort);
    const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return free;
}

std::vector<std::string> childEnvironment(const std::string& logFolder, const std::string& bus) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        if (text.rfind("NOTIFY_SOCKET=", 0) != 0 && text.rfind("LOGS_DIRECTORY=", 0) != 0 &&
            text.rfind("DBUS_SYSTEM_BUS_ADDRESS=", 0) != 0) {
            entries.push_back(text);
        }
    }
    entries.push_back("LOGS_DIRECTORY=" + logFolder);
    entries.push_back("DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + bus);
    return entries;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> out;
    out.reserve(texts.size() + 1);
    for (std::string& text : texts) {
        out.push_back(text.data());
    }
    out.push_back(nullptr);
    return out;
}

} // namespace

TempFolder::TempFolder() {
    char pattern[] = "/tmp/linkrelay-bench-XXXXXX";
    path = ::mkdtemp(pattern) != nullptr ? pattern : "/tmp";
}

TempFolder::~TempFolder() {
    if (path != "/tmp") {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
}

bool waitPortFree(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!portFree()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(200ms);
    }
    return true;
}

ServiceProcess::ServiceProcess(const std::string& program,
                               const std::vector<std::string>& arguments,
                               const std::string& stderrPath, const std::string& logFolder)
    : stderrPath(stderrPath) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<std::string> env = childEnvironment(logFolder, logFolder + "/no-bus");
    std::vector<char*> argvPointers = pointers(argv);
    std::vector<char*> envPointers = pointers(env);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
    spawnTime = nowNs();
    if (::posix_spawn(&pid, program.c_str(), &actions, nullptr, argvPointers.data(),
                      envPointers.data()) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
}

ServiceProcess::~ServiceProcess() {
    if (pid <= 0) {
        return;
    }
    ::kill(pid, SIGTERM);
    for (int waited = 0; waited < 1000; ++waited) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid) {
            return;
        }
        std::this_thread::sleep_for(10ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

std::optional<int64_t> ServiceProcess::waitLine(const std::string& text,
                                                std::chrono::milliseconds timeout,
                                                int pollMs) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::ifstream file(stderrPath);
    std::string pending;
    std::vector<char> chunk(65536);
    while (std::chrono::steady_clock::now() < deadline) {
        file.clear();
        file.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const std::streamsize got = file.gcount();
        if (got > 0) {
            pending.append(chunk.data(), static_cast<size_t>(got));
            if (pending.find(text) != std::string::npos) {
                return nowNs();
            }
            // Keep only a tail long enough to hold a line cut in two.
            if (pending.size() > 4096) {
                pending.erase(0, pending.size() - 1024);
            }
            continue;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(pollMs));
    }
    return std::nullopt;
}

long ServiceProcess::residentKb() const {
    std::ifstream file("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(file, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return 0;
}

double ServiceProcess::cpuSeconds() const {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const size_t close = content.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(content.substr(close + 2));
    std::string field;
    // After the name: state (3), ppid ... utime is field 14, stime 15.
    double ticks = 0;
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14 || index == 15) {
            ticks += std::stod(field);
        }
    }
    return ticks / double(::sysconf(_SC_CLK_TCK));
}

namespace {

// The task folders of process `pid`, one per thread.
std::vector<std::string> taskFolders(pid_t pid) {
    std::vector<std::string> folders;
    std::error_code error;
    const std::string root = "/proc/" + std::to_string(pid) + "/task";
    for (auto entry = std::filesystem::directory_iterator(root, error);
         !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        folders.push_back(entry->path().string());
    }
    return folders;
}

} // namespace

double ServiceProcess::preciseCpuSeconds() const {
    double seconds = 0;
    for (const std::string& folder : taskFolders(pid)) {
        std::ifstream file(folder + "/schedstat");
        double nanoseconds = 0;
        if (file >> nanoseconds) {
            seconds += nanoseconds / 1e9;
        }
    }
    return seconds;
}

long ServiceProcess::voluntarySwitches() const {
    long switches = 0;
    for (const std::string& folder : taskFolders(pid)) {
        switches += voluntarySwitchesOf(folder);
    }
    return switches;
}

long voluntarySwitchesOf(const std::string& taskFolder) {
    std::ifstream file(taskFolder + "/status");
    const std::string key = "voluntary_ctxt_switches:";
    for (std::string line; std::getline(file, line);) {
        if (line.rfind(key, 0) == 0) {
            return std::strtol(line.c_str() + key.size(), nullptr, 10);
        }
    }
    return 0;
}
