// Parsing of the tool's options.
#include "tools/cli_options.h"

#include <cmath>
#include <cstdlib>

namespace linkrelay::cli {

namespace {

constexpr double secondsPerDay = 86400.0;

// Takes the value of the option at `at`, advancing `at`; false when there is none.
bool takeValue(const std::vector<std::string>& arguments, size_t& at, std::string& value) {
    if (at + 1 >= arguments.size()) {
        return false;
    }
    value = arguments[++at];
    return true;
}

} // namespace

ExitCode exitCodeOf(ClientErrorKind kind) {
    switch (kind) {
    case ClientErrorKind::Refused:
    case ClientErrorKind::ConnectFailed:
    case ClientErrorKind::NotOpen:
        return ExitConnectFailed;
    case ClientErrorKind::Closed:
        return ExitRefused;
    case ClientErrorKind::Timeout:
        return ExitTimeout;
    case ClientErrorKind::Malformed:
        return ExitMalformed;
    }
    return ExitUsage;
}

std::optional<std::chrono::milliseconds> parseSeconds(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !std::isfinite(seconds) || seconds < 0 || seconds > secondsPerDay) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(std::llround(seconds * 1000));
}

std::optional<long> parseNumber(const std::string& text, long low, long high) {
    if (text.empty()) {
        return std::nullopt;
    }
    char* end = nullptr;
    const long number = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || number < low || number > high) {
        return std::nullopt;
    }
    return number;
}

std::optional<CliOptions> parseCliOptions(const std::vector<std::string>& arguments,
                                          std::string& error) {
    CliOptions options;
    for (size_t at = 0; at < arguments.size(); ++at) {
        const std::string& argument = arguments[at];
        std::string value;
        if (argument == "--json") {
            options.json = true;
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--version") {
            options.version = true;
        } else if (argument == "--host") {
            if (!takeValue(arguments, at, value) || value.empty()) {
                error = "--host needs a host name or address";
                return std::nullopt;
            }
            options.host = value;
        } else if (argument == "--port") {
            const std::optional<long> port =
                takeValue(arguments, at, value) ? parseNumber(value, 1, 65535) : std::nullopt;
            if (!port) {
                error = "--port needs a port number from 1 to 65535";
                return std::nullopt;
            }
            options.port = static_cast<uint16_t>(*port);
        } else if (argument == "--timeout") {
            const std::optional<std::chrono::milliseconds> timeout =
                takeValue(arguments, at, value) ? parseSeconds(value) : std::nullopt;
            if (!timeout) {
                error = "--timeout needs a number of seconds";
                return std::nullopt;
            }
            options.timeout = *timeout;
        } else if (options.command.empty()) {
            options.command = argument;
        } else {
            options.arguments.push_back(argument);
        }
    }
    return options;
}

} // namespace linkrelay::cli
