// Session command lines into words.
#include "tools/command_line.h"

namespace linkrelay::cli {

namespace {

bool isBlank(char character) {
    return character == ' ' || character == '\t' || character == '\r' || character == '\n';
}

// Reads the quoted word that begins at `at` (on its opening quote); false when the line
// ends first. `at` ends past the closing quote.
bool readQuoted(const std::string& line, size_t& at, std::string& text) {
    for (++at; at < line.size(); ++at) {
        const char character = line[at];
        if (character == '"') {
            ++at;
            return true;
        }
        if (character == '\\' && at + 1 < line.size() &&
            (line[at + 1] == '"' || line[at + 1] == '\\')) {
            ++at;
        }
        text += line[at];
    }
    return false;
}

} // namespace

std::optional<std::vector<Word>> splitCommandLine(const std::string& line, std::string& error) {
    std::vector<Word> words;
    size_t at = 0;
    for (;;) {
        while (at < line.size() && isBlank(line[at])) {
            ++at;
        }
        if (at == line.size()) {
            return words;
        }
        if (words.empty() && line[at] == '#') {
            return words;
        }
        Word word;
        if (line[at] == '"') {
            word.quoted = true;
            if (!readQuoted(line, at, word.text)) {
                error = "unterminated quote";
                return std::nullopt;
            }
        } else {
            while (at < line.size() && !isBlank(line[at])) {
                word.text += line[at++];
            }
        }
        words.push_back(word);
    }
}

} // namespace linkrelay::cli
