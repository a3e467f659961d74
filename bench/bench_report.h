// The figures of one benchmark run and their two written forms: a JSON file and the
// Markdown table of RESULTS.md.
//
// A figure is one measured value beside the baseline measured in the same run (when it
// has one), their ratio, and the target it is held against (text only; nothing here
// passes or fails a run).
//
// Threads: the main thread only.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct Figure {
    std::string group;              // "Event latency", "Throughput", ...
    std::string name;               // what was measured
    double value = 0;               // the service's figure
    std::string unit;               // "us", "gobs/s", "MB", ...
    std::optional<double> baseline; // the floor in the same unit, measured in this run
    std::string baselineName;       // what the floor is
    std::string target;             // e.g. "<= 1500 us added", empty when none
    std::optional<bool> met;        // whether the target was met; empty when none
    std::string note;               // how it was measured, or what went wrong
};

class BenchReport {
public:
    void add(Figure figure);
    // Records a measurement that could not be taken, with the reason.
    void skip(const std::string& group, const std::string& name, const std::string& reason);
    void setContext(const std::string& key, const std::string& value);

    bool writeJson(const std::string& path) const;
    bool writeMarkdown(const std::string& path) const;
    // One line per figure on standard output, as the run goes.
    static void print(const Figure& figure);

private:
    std::vector<Figure> figures;
    std::vector<std::pair<std::string, std::string>> context; // machine, date, load, ...
};

// The ratio column: value / baseline, or empty text without a baseline.
std::string ratioText(const Figure& figure);
