// Latency summaries. See latency_stats.h.
#include "latency_stats.h"

#include <algorithm>
#include <cmath>

namespace {

double rank(const std::vector<double>& sorted, double fraction) {
    const auto position = static_cast<std::size_t>(std::ceil(fraction * double(sorted.size())));
    return sorted[std::clamp<std::size_t>(position, 1, sorted.size()) - 1];
}

} // namespace

LatencySummary LatencySamples::summary() const {
    LatencySummary result;
    if (samples.empty()) {
        return result;
    }
    std::vector<double> sorted = samples;
    std::sort(sorted.begin(), sorted.end());
    result.count = sorted.size();
    result.p50 = rank(sorted, 0.50);
    result.p99 = rank(sorted, 0.99);
    result.max = sorted.back();
    return result;
}
