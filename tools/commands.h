// The tool's commands. Each opens its own session with the service, reports through the
// printer and returns an ExitCode; client failures are thrown as ClientError and bad
// arguments as UsageError, for runCli to report.
//
// Threads: each runs on the caller's thread (a session adds its event thread).
#pragma once

#include "tools/cli_options.h"
#include "tools/event_printer.h"

#include <istream>

namespace linkrelay::cli {

int runStatus(const CliOptions& options, EventPrinter& printer);
int runScan(const CliOptions& options, EventPrinter& printer);
int runSession(const CliOptions& options, std::istream& in, EventPrinter& printer);

} // namespace linkrelay::cli
