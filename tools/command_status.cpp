// `status` and `session`: the two commands that need no more than a session and a loop.
#include "linkrelay/client.h"
#include "tools/commands.h"
#include "tools/session.h"

#include <fstream>

namespace linkrelay::cli {

int runStatus(const CliOptions& options, EventPrinter& printer) {
    if (!options.arguments.empty()) {
        throw UsageError("usage: linkrelay-cli status");
    }
    Client client;
    client.open(options.host, options.port, Client::defaultConnectTimeout);
    printer.event(client.waitStatus(options.timeout));
    return ExitSuccess;
}

int runSession(const CliOptions& options, std::istream& in, EventPrinter& printer) {
    const std::vector<std::string>& arguments = options.arguments;
    const bool script = arguments.size() == 2 && arguments[0] == "--script";
    if (!arguments.empty() && !script) {
        throw UsageError("usage: linkrelay-cli session [--script FILE|-]");
    }
    std::ifstream file;
    if (script && arguments[1] != "-") {
        file.open(arguments[1]);
        if (!file) {
            throw UsageError("cannot read the script " + arguments[1]);
        }
    }
    Client client;
    client.open(options.host, options.port, Client::defaultConnectTimeout);
    Session session(client, printer, options.timeout);
    return session.run(file.is_open() ? file : in, script);
}

} // namespace linkrelay::cli
