// The service as a child process. See service_process.h.
#include "service_process.h"

#include "bench_clock.h"
#include "gob/gob_protocol.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

bool waitPortFree(std::chrono::milliseconds timeout) {
    return harness::waitUntil([] { return harness::portFree(gobDefaultPort); }, timeout);
}

ServiceProcess::ServiceProcess(const std::string& program,
                               const std::vector<std::string>& arguments,
                               const std::string& stderrPath, const std::string& logFolder)
    : spawnTime(nowNs()),
      child(harness::ChildOptions{
          .program = program,
          .arguments = arguments,
          .setEnv = {{"LOGS_DIRECTORY", logFolder},
                     {"DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + logFolder + "/no-bus"}},
          .unsetEnv = {"NOTIFY_SOCKET"},
          .stdoutPath = {},
          .stderrPath = stderrPath,
      }),
      stderrPath(stderrPath) {}

ServiceProcess::~ServiceProcess() {
    child.sendSignal(SIGTERM);
    child.waitExit(std::chrono::seconds(10));
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
    std::ifstream file("/proc/" + std::to_string(id()) + "/status");
    for (std::string line; std::getline(file, line);) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return 0;
}

double ServiceProcess::cpuSeconds() const {
    return harness::cpuSecondsOf(id());
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
    for (const std::string& folder : taskFolders(id())) {
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
    for (const std::string& folder : taskFolders(id())) {
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
