// Command-line options of the service program.
//
//   --listen HOST[:PORT]  the address clients connect to; default 0.0.0.0:9089
//   --port PATH           use this serial port instead of searching for the dongle
//   --simulate            run on the built-in simulated dongle
//   --console             (Windows) run the service steps in a console; Ctrl+C stops
//   --version             print the version and the commit, and exit
//
// Without options the program runs exactly as the service does. The options are parsed
// once by the program entry, before any thread starts, and only read afterwards.
#pragma once

#include "mux/gob_server.h"
#include "net/listen_address.h"

#include <string>
#include <vector>

struct ServiceOptions {
    std::string port; // serial port path; empty: search for the dongle
    ListenAddress listen{gobServerHost, gobDefaultPort}; // where clients connect
    bool simulate = false;                               // use the in-process simulated dongle
    bool console = false; // run in a console instead of under the service manager
    bool help = false;    // print the usage text and exit
    bool version = false; // print the version line and exit
};

// Parses the arguments after the program name; false with `error` set on bad input.
// A host name given to --listen is resolved here.
bool parseServiceOptions(const std::vector<std::string>& arguments, ServiceOptions& options,
                         std::string& error);

// The usage text, ending with a line break.
std::string serviceUsage(bool windows);

// The options in effect for this process: set once by the program entry.
void setServiceOptions(const ServiceOptions& options);
const ServiceOptions& serviceOptions();
