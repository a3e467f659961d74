// Parsing of the service program's command line.
#include "service/service_options.h"

namespace {

ServiceOptions current; // written once by the program entry before threads start

} // namespace

bool parseServiceOptions(const std::vector<std::string>& arguments, ServiceOptions& options,
                         std::string& error) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (argument == "--simulate") {
            options.simulate = true;
        } else if (argument == "--console") {
            options.console = true;
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else if (argument == "--version") {
            options.version = true;
        } else if (argument == "--listen") {
            if (i + 1 == arguments.size()) {
                error = "--listen needs HOST[:PORT]";
                return false;
            }
            const std::string& value = arguments[++i];
            std::string reason;
            if (!parseListenAddress(value, gobDefaultPort, options.listen, reason)) {
                error = "--listen \"";
                error.append(value).append("\": ").append(reason);
                return false;
            }
        } else if (argument == "--port") {
            if (i + 1 == arguments.size() || arguments[i + 1].empty()) {
                error = "--port needs a serial port path";
                return false;
            }
            options.port = arguments[++i];
        } else {
            error = "unknown option: " + argument;
            return false;
        }
    }
    if (options.simulate && !options.port.empty()) {
        error = "--simulate and --port cannot be used together";
        return false;
    }
    return true;
}

std::string serviceUsage(bool windows) {
    std::string usage = "usage: linkrelay [--listen HOST[:PORT]] [--simulate | --port PATH]";
    usage += windows ? " [--console]\n" : "\n";
    usage += "       linkrelay --version | --help\n"
             "  --listen HOST[:PORT]  where clients connect: an IPv4 address or a host name,\n"
             "                        and a port (default 0.0.0.0:9089, every IPv4 interface;\n"
             "                        127.0.0.1 keeps the service to this computer)\n"
             "  --simulate            run on the built-in simulated dongle\n"
             "  --port PATH           use this serial port instead of searching for the dongle\n";
    if (windows) {
        usage += "  --console             run in this console instead of as a service; Ctrl+C "
                 "stops\n";
    }
    usage += "  --version             print the version and exit\n";
    return usage;
}

void setServiceOptions(const ServiceOptions& options) {
    current = options;
}

const ServiceOptions& serviceOptions() {
    return current;
}
