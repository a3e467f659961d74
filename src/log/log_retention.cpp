// Retention of the log folder.
#include "log/log_retention.h"

#include <algorithm>
#include <cstdio>
#include <tuple>

namespace {

const std::string logPrefix = "zevlog-";
const std::string logSuffix = ".txt";
// "2026-12-08.03-22-05": the start time in a log file name.
constexpr std::size_t startLength = 19;
constexpr std::size_t longestSequence = 9;

// The order of log files by age: start time, then sequence number, then name.
struct Age {
    std::string start;
    long sequence;
    std::string name;

    bool operator<(const Age& other) const {
        return std::tie(start, sequence, name) < std::tie(other.start, other.sequence, other.name);
    }
};

// ".2" -> 2, "" -> 1 (the first file of a start); anything else -> 0.
long sequenceOf(const std::string& rest) {
    if (rest.empty()) {
        return 1;
    }
    if (rest.size() < 2 || rest.size() > longestSequence + 1 || rest[0] != '.' ||
        !std::all_of(rest.begin() + 1, rest.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return 0;
    }
    return std::stol(rest.substr(1));
}

Age ageOf(const std::string& name) {
    const std::string middle =
        name.substr(logPrefix.size(), name.size() - logPrefix.size() - logSuffix.size());
    const std::string start = middle.substr(0, startLength);
    const std::string rest = middle.size() > startLength ? middle.substr(startLength) : "";
    return {start, sequenceOf(rest), name};
}

} // namespace

bool isLogFileName(const std::string& name) {
    return name.size() >= logPrefix.size() + logSuffix.size() &&
           name.compare(0, logPrefix.size(), logPrefix) == 0 &&
           name.compare(name.size() - logSuffix.size(), logSuffix.size(), logSuffix) == 0;
}

std::vector<std::string> logFilesToRemove(const std::vector<FolderFile>& files,
                                          const std::string& current, uint64_t bound) {
    uint64_t total = 0;
    std::vector<std::pair<Age, uint64_t>> candidates;
    for (const FolderFile& file : files) {
        if (!isLogFileName(file.name)) {
            continue;
        }
        total += file.bytes;
        if (file.name != current) {
            candidates.emplace_back(ageOf(file.name), file.bytes);
        }
    }
    std::sort(candidates.begin(), candidates.end());
    std::vector<std::string> removed;
    for (const auto& [age, bytes] : candidates) {
        if (total <= bound) {
            break;
        }
        removed.push_back(age.name);
        total -= bytes;
    }
    return removed;
}

void enforceFolderBound(const std::string& folder, const std::string& current, uint64_t bound) {
    for (const std::string& name : logFilesToRemove(filesOf(folder), current, bound)) {
        std::remove(joinPath(folder, name).c_str());
    }
}
