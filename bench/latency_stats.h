// Latency samples and their summary (p50, p99, max), in microseconds.
//
// Threads: plain values; a LatencySamples belongs to the thread that fills it.
#pragma once

#include <cstddef>
#include <vector>

struct LatencySummary {
    std::size_t count = 0;
    double p50 = 0;
    double p99 = 0;
    double max = 0;
};

class LatencySamples {
public:
    explicit LatencySamples(std::size_t expected) { samples.reserve(expected); }
    void add(double microseconds) { samples.push_back(microseconds); }
    std::size_t size() const { return samples.size(); }
    // Nearest-rank percentiles over every sample taken.
    LatencySummary summary() const;

private:
    std::vector<double> samples;
};
