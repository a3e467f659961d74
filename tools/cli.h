// The command-line tool as a function, so that tests can run it in-process: the
// arguments after the program's name, the standard streams, and the exit code back.
//
// Threads: runs on the caller's thread (a session adds its event thread).
#pragma once

#include <istream>
#include <ostream>
#include <string>
#include <vector>

namespace linkrelay::cli {

int runCli(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out,
           std::ostream& err);

// The text of `linkrelay-cli --help`.
std::string cliHelpText();

} // namespace linkrelay::cli
