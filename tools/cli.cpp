// Options, help, dispatch to the commands and the mapping of failures to exit codes.
#include "tools/cli.h"

#include "linkrelay/client_error.h"
#include "service/build_info.h"
#include "tools/commands.h"
#include "tools/session.h"
#include "tools/session_help.h"

#include <map>
#include <optional>

namespace linkrelay::cli {

namespace {

constexpr const char* statusHelp =
    "usage: linkrelay-cli [OPTIONS] status\n"
    "Prints the status that the service sends to a new client:\n"
    "the conduit's type and state (0 ready, 1 failed, 2 not ready).\n";

constexpr const char* scanHelp =
    "usage: linkrelay-cli [OPTIONS] scan [--seconds N] [--name TEXT] [--service UUID] [--all]\n"
    "Scans for N seconds (default 5), then prints each device seen once: address, RSSI of\n"
    "its latest advertisement, name and advertised services. --name keeps the devices\n"
    "whose name contains TEXT (in any case), --service those that advertise UUID. --all\n"
    "prints every advertisement and scan response as it arrives instead.\n"
    "The scan is refused (exit code 3) when the dongle is not ready.\n";

constexpr const char* sessionHelp =
    "usage: linkrelay-cli [OPTIONS] session [--script FILE|-]\n"
    "Holds a connection to the service open and reads commands, one per line: at a\n"
    "prompt, or from FILE (or standard input with -) as a script that echoes each\n"
    "command and stops at the first failure. Events are printed as they arrive. Each\n"
    "command waits for its answer within the timeout. Devices connected in a session are\n"
    "disconnected when it ends. Lines beginning with # are comments.\n\n";

std::optional<std::string> commandHelp(const std::string& command) {
    if (command == "status") {
        return statusHelp;
    }
    if (command == "scan") {
        return scanHelp;
    }
    if (command == "session") {
        return sessionHelp + sessionHelpText();
    }
    if (command == "help") {
        return cliHelpText();
    }
    return std::nullopt;
}

int runHelp(const CliOptions& options, std::ostream& out, std::ostream& err) {
    if (options.arguments.empty()) {
        out << cliHelpText();
        return ExitSuccess;
    }
    const bool sessionCommand = options.arguments[0] == "session" && options.arguments.size() == 2;
    const std::optional<std::string> text = sessionCommand
                                                ? sessionCommandHelpText(options.arguments[1])
                                                : commandHelp(options.arguments[0]);
    if (!text) {
        err << "linkrelay-cli: no help for \"" << options.arguments[0] << "\"\n";
        return ExitUsage;
    }
    out << *text;
    return ExitSuccess;
}

std::string errorHint(const ClientError& error) {
    switch (error.kind()) {
    case ClientErrorKind::Refused:
        return " (is the service running?)";
    case ClientErrorKind::Closed:
        return " (it refused a request, or stopped)";
    default:
        return {};
    }
}

int runCommand(const CliOptions& options, std::istream& in, EventPrinter& printer) {
    if (options.command == "status") {
        return runStatus(options, printer);
    }
    if (options.command == "scan") {
        return runScan(options, printer);
    }
    if (options.command == "session") {
        return runSession(options, in, printer);
    }
    throw UsageError("unknown command \"" + options.command + "\" (try --help)");
}

} // namespace

std::string cliHelpText() {
    return "usage: linkrelay-cli [OPTIONS] COMMAND [ARGUMENTS]\n"
           "Talks to the linkrelay service, which shares a BLE dongle among local programs.\n"
           "\n"
           "Commands:\n"
           "  status                 show the service's dongle state\n"
           "  scan                   list the devices around (see help scan)\n"
           "  session                connect, discover, read, write, subscribe (see help session)\n"
           "  help [COMMAND]         explain a command; help session COMMAND for session commands\n"
           "\n"
           "Options:\n"
           "  --host HOST            the service's host (default 127.0.0.1)\n"
           "  --port PORT            the service's TCP port (default 9089)\n"
           "  --timeout SECONDS      how long to wait for each answer (default 10)\n"
           "  --json                 print one JSON object per event instead of text\n"
           "  --help                 this text, or the command's help after a command\n"
           "  --version              print the version and exit\n"
           "\n"
           "Exit codes:\n"
           "  0  success\n"
           "  1  bad arguments or a bad session command\n"
           "  2  the service could not be reached (nothing listens, or no route)\n"
           "  3  refused: the service closed the connection (it does so when it refuses a\n"
           "     request, e.g. while the dongle is not ready), or the dongle is not ready\n"
           "  4  timeout: an awaited answer did not come\n"
           "  5  the service sent data that is not a valid event\n";
}

int runCli(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out,
           std::ostream& err) {
    std::string error;
    const std::optional<CliOptions> options = parseCliOptions(arguments, error);
    if (!options) {
        err << "linkrelay-cli: " << error << "\n";
        return ExitUsage;
    }
    if (options->version) {
        out << versionLine() << "\n";
        return ExitSuccess;
    }
    if (options->command == "help" || (options->help && options->command.empty())) {
        return runHelp(*options, out, err);
    }
    if (options->help) {
        const std::optional<std::string> text = commandHelp(options->command);
        out << (text ? *text : cliHelpText());
        return text ? ExitSuccess : ExitUsage;
    }
    if (options->command.empty()) {
        err << cliHelpText();
        return ExitUsage;
    }
    EventPrinter printer(out, err, options->json);
    try {
        return runCommand(*options, in, printer);
    } catch (const UsageError& usage) {
        printer.error(usage.what());
        return ExitUsage;
    } catch (const ClientError& failure) {
        printer.error(failure.what() + errorHint(failure));
        return exitCodeOf(failure.kind());
    }
}

} // namespace linkrelay::cli
