// Splitting a session command line into words. Words are separated by blanks; a word in
// double quotes keeps its blanks and may hold \" and \\. A line whose first word begins
// with '#' is a comment and has no words.
//
// Pure functions; safe on any thread.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace linkrelay::cli {

struct Word {
    std::string text;
    bool quoted = false;
};

// The words, or nothing with `error` set for an unterminated quote.
std::optional<std::vector<Word>> splitCommandLine(const std::string& line, std::string& error);

} // namespace linkrelay::cli
