// Writing the figures out. See bench_report.h.
#include "bench_report.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

std::string number(double value) {
    char text[64];
    // Whole numbers from 1,000 up to 10 million; three significant digits otherwise.
    const bool whole = value >= 1000 && value < 1e7;
    std::snprintf(text, sizeof text, whole ? "%.0f" : "%.3g", value);
    return text;
}

std::string jsonText(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string cell(const std::string& text) {
    std::string out;
    for (const char c : text) {
        out += c == '|' ? '/' : c;
    }
    return out;
}

std::string metText(const Figure& figure) {
    if (!figure.met) {
        return "";
    }
    return *figure.met ? "yes" : "**no**";
}

} // namespace

std::string ratioText(const Figure& figure) {
    if (!figure.baseline || *figure.baseline == 0) {
        return "";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", figure.value / *figure.baseline);
    return text;
}

void BenchReport::add(Figure figure) {
    print(figure);
    figures.push_back(std::move(figure));
}

void BenchReport::skip(const std::string& group, const std::string& name,
                       const std::string& reason) {
    Figure figure;
    figure.group = group;
    figure.name = name;
    figure.unit = "n/a";
    figure.note = "not measured: " + reason;
    add(std::move(figure));
}

void BenchReport::setContext(const std::string& key, const std::string& value) {
    context.emplace_back(key, value);
}

void BenchReport::print(const Figure& figure) {
    std::printf("%-16s %-52s %12s %-7s", figure.group.c_str(), figure.name.c_str(),
                number(figure.value).c_str(), figure.unit.c_str());
    if (figure.baseline) {
        std::printf(" floor %s ratio %s", number(*figure.baseline).c_str(),
                    ratioText(figure).c_str());
    }
    if (!figure.note.empty()) {
        std::printf("  (%s)", figure.note.c_str());
    }
    std::printf("\n");
    std::fflush(stdout);
}

bool BenchReport::writeJson(const std::string& path) const {
    std::ostringstream out;
    out << "{\n  \"context\": {";
    for (size_t i = 0; i < context.size(); ++i) {
        out << (i == 0 ? "\n" : ",\n") << "    " << jsonText(context[i].first) << ": "
            << jsonText(context[i].second);
    }
    out << "\n  },\n  \"figures\": [";
    for (size_t i = 0; i < figures.size(); ++i) {
        const Figure& f = figures[i];
        out << (i == 0 ? "\n" : ",\n") << "    {\"group\": " << jsonText(f.group)
            << ", \"name\": " << jsonText(f.name) << ", \"value\": " << f.value
            << ", \"unit\": " << jsonText(f.unit);
        if (f.baseline) {
            out << ", \"baseline\": " << *f.baseline
                << ", \"baseline_name\": " << jsonText(f.baselineName)
                << ", \"ratio\": " << f.value / *f.baseline;
        }
        if (!f.target.empty()) {
            out << ", \"target\": " << jsonText(f.target);
        }
        if (f.met) {
            out << ", \"met\": " << (*f.met ? "true" : "false");
        }
        out << ", \"note\": " << jsonText(f.note) << "}";
    }
    out << "\n  ]\n}\n";
    std::ofstream file(path);
    file << out.str();
    return static_cast<bool>(file);
}

bool BenchReport::writeMarkdown(const std::string& path) const {
    std::ostringstream out;
    out << "## Run\n\n";
    for (const auto& [key, value] : context) {
        out << "- " << key << ": " << value << "\n";
    }
    out << "\n## Figures\n\n"
        << "| Group | Measure | Service | Unit | Floor (same run) | Ratio | Target | Met |\n"
        << "|---|---|---:|---|---:|---:|---|---|\n";
    for (const Figure& f : figures) {
        out << "| " << cell(f.group) << " | " << cell(f.name) << " | "
            << (f.unit == "n/a" ? "–" : number(f.value)) << " | " << f.unit << " | "
            << (f.baseline ? number(*f.baseline) + " (" + cell(f.baselineName) + ")" : "") << " | "
            << ratioText(f) << " | " << cell(f.target) << " | " << metText(f) << " |\n";
    }
    out << "\n## Notes on each figure\n\n";
    for (const Figure& f : figures) {
        if (!f.note.empty()) {
            out << "- **" << f.group << " / " << f.name << "**: " << f.note << "\n";
        }
    }
    std::ofstream file(path);
    file << out.str();
    return static_cast<bool>(file);
}
