// The in-process runner of the tool for tests.
#include "cli_runner.h"

#include "tools/cli.h"

#include <sstream>

using linkrelay::cli::runCli;

CliRun runCliAgainst(const ServiceEndpoint& service, const std::vector<std::string>& arguments,
                     const std::string& input) {
    std::vector<std::string> all = {"--host", service.host, "--port", std::to_string(service.port)};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    CliRun run;
    run.code = runCli(all, in, out, err);
    run.out = out.str();
    run.err = err.str();
    return run;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line)) {
        lines.push_back(line);
    }
    return lines;
}

::testing::AssertionResult hasLinesInOrder(const std::string& text,
                                           const std::vector<std::string>& expected) {
    const std::vector<std::string> lines = linesOf(text);
    size_t at = 0;
    for (const std::string& wanted : expected) {
        while (at < lines.size() && lines[at] != wanted) {
            ++at;
        }
        if (at == lines.size()) {
            return ::testing::AssertionFailure()
                   << "missing (in order): \"" << wanted << "\" in output:\n"
                   << text;
        }
        ++at;
    }
    return ::testing::AssertionSuccess();
}
