// linkrelay_bench: runs every benchmark in turn and writes the figures as JSON and as the
// Markdown table of RESULTS.md.
//
//   linkrelay_bench --json PATH --markdown PATH [--only GROUP]...
//   linkrelay_bench --floor-relay LINK PORT CLIENTS   (the floor's relay process)
//
// GROUP is one of: mux, log, scale, dongle. Threads: the main thread runs the benchmarks one
// after another; each starts and ends the threads and processes it needs.
#include "bench_report.h"
#include "dongle_benches.h"
#include "floor_relay.h"
#include "log_cost.h"
#include "machine_info.h"
#include "mux_alone.h"
#include "scale_benches.h"

#include <cstdio>
#include <set>
#include <string>
#include <sys/resource.h>

namespace {

struct Options {
    std::string json = "results.json";
    std::string markdown = "results.md";
    std::set<std::string> only;
};

bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (i + 1 >= argc) {
            return false;
        }
        const std::string value = argv[++i];
        if (flag == "--json") {
            options.json = value;
        } else if (flag == "--markdown") {
            options.markdown = value;
        } else if (flag == "--only") {
            options.only.insert(value);
        } else {
            return false;
        }
    }
    return true;
}

// A thousand clients need a thousand descriptors here and in the service, which
// inherits this limit.
void raiseDescriptorLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::string(argv[1]) == "--floor-relay") {
        return runFloorRelay(argv[2], static_cast<uint16_t>(std::stoi(argv[3])),
                             std::stoi(argv[4]));
    }
    Options options;
    if (!parse(argc, argv, options)) {
        std::fprintf(stderr, "usage: linkrelay_bench --json PATH --markdown PATH [--only "
                             "mux|log|scale|dongle]...\n");
        return 2;
    }
    raiseDescriptorLimit();
    const auto wanted = [&](const char* group) {
        return options.only.empty() || options.only.count(group) != 0;
    };
    BenchReport report;
    describeMachine(report, "at start");
    if (wanted("mux")) {
        benchMuxAlone(report);
    }
    if (wanted("log")) {
        benchLogCost(report);
    }
    if (wanted("scale")) {
        benchScaleAndCost(report);
    }
    if (wanted("dongle")) {
        benchDonglePath(report);
    }
    describeLoad(report, "at end");
    const bool written = report.writeJson(options.json) && report.writeMarkdown(options.markdown);
    return written ? 0 : 1;
}
