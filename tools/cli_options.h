// The tool's exit codes and its options: those that every command takes (--host,
// --port, --json, --timeout, --help, --version) wherever they stand, the command's name, and the
// rest of the arguments, which belong to the command.
//
// Pure functions; safe on any thread.
#pragma once

#include "linkrelay/client_error.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace linkrelay::cli {

enum ExitCode : int {
    ExitSuccess = 0,
    ExitUsage = 1,         // bad arguments or a bad session command
    ExitConnectFailed = 2, // the service could not be reached
    ExitRefused = 3,       // the service ended the session (a refused request) or is not ready
    ExitTimeout = 4,       // an awaited answer did not come in time
    ExitMalformed = 5,     // the service sent something that is not an event
};

// The exit code that reports a client error.
ExitCode exitCodeOf(ClientErrorKind kind);

struct CliOptions {
    std::string host = "127.0.0.1";
    uint16_t port = 9089;
    bool json = false;
    bool help = false;
    bool version = false;
    std::chrono::milliseconds timeout{10000}; // for each awaited answer
    std::string command;                      // empty when none was given
    std::vector<std::string> arguments;       // the command's own, in order
};

// The options, or nothing with `error` set.
std::optional<CliOptions> parseCliOptions(const std::vector<std::string>& arguments,
                                          std::string& error);

// A count of seconds, fractions allowed, 0 to one day.
std::optional<std::chrono::milliseconds> parseSeconds(const std::string& text);

// A whole number from `low` to `high`.
std::optional<long> parseNumber(const std::string& text, long low, long high);

} // namespace linkrelay::cli
