// Help texts of the session commands, for the prompt's `help` and for
// `linkrelay-cli help session`.
//
// Constant data; safe on any thread.
#pragma once

#include <optional>
#include <string>

namespace linkrelay::cli {

// Every command with its usage, one per line.
std::string sessionHelpText();

// The usage and explanation of one command; nothing for an unknown name.
std::optional<std::string> sessionCommandHelpText(const std::string& name);

} // namespace linkrelay::cli
