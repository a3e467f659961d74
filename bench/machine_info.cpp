// The run's context. See machine_info.h.
#include "machine_info.h"

#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/utsname.h>
#include <thread>

namespace {

std::string firstLineWith(const std::string& path, const std::string& prefix) {
    std::ifstream file(path);
    for (std::string line; std::getline(file, line);) {
        if (line.rfind(prefix, 0) == 0) {
            const size_t colon = line.find(':');
            return colon == std::string::npos ? line : line.substr(colon + 2);
        }
    }
    return "unknown";
}

std::string utcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    gmtime_r(&now, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &parts);
    return text;
}

} // namespace

void describeMachine(BenchReport& report, const char* when) {
    report.setContext("date", utcNow());
    report.setContext("cpu", firstLineWith("/proc/cpuinfo", "model name"));
    report.setContext("cores", std::to_string(std::thread::hardware_concurrency()));
    utsname names{};
    ::uname(&names);
    report.setContext("kernel", std::string(names.sysname) + " " + names.release);
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    report.setContext("descriptor limit (raised by the bench)", std::to_string(limit.rlim_cur));
    describeLoad(report, when);
}

void describeLoad(BenchReport& report, const char* when) {
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen, tasks;
    file >> one >> five >> fifteen >> tasks;
    report.setContext(std::string("load average ") + when + " (1/5/15 min, running/total tasks)",
                      one + " / " + five + " / " + fifteen + ", " + tasks);
}
