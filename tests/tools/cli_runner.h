// Runs linkrelay-cli in-process against a service at a given address (the fake one here;
// the real service on the simulated dongle works the same), and checks its output.
#pragma once

#include "gob/gob_protocol.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <string>
#include <vector>

struct ServiceEndpoint {
    std::string host = "127.0.0.1";
    uint16_t port = gobDefaultPort;
};

struct CliRun {
    int code = -1;
    std::string out;
    std::string err;
};

// The tool run with --host and --port of `service` before `arguments`, `input` as its
// standard input.
CliRun runCliAgainst(const ServiceEndpoint& service, const std::vector<std::string>& arguments,
                     const std::string& input = {});

// The lines of `text`, without their ends.
std::vector<std::string> linesOf(const std::string& text);

// Success when every line of `expected` is a line of `text`, in this order (other lines
// may come between).
::testing::AssertionResult hasLinesInOrder(const std::string& text,
                                           const std::vector<std::string>& expected);
