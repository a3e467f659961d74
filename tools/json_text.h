// A small writer of one-line JSON objects, for the tool's --json output.
//
// Each JsonObject belongs to the thread that builds it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace linkrelay::cli {

// `text` as a JSON string, quotes included. Control characters are escaped as \u00XX;
// well-formed UTF-8 passes through, and every byte that does not begin one becomes \ufffd
// (device names are whatever bytes the device sends).
std::string jsonString(std::string_view text);

// A JSON array of strings.
std::string jsonStringArray(const std::vector<std::string>& items);

class JsonObject {
public:
    JsonObject& add(std::string_view key, std::string_view text);
    JsonObject& add(std::string_view key, int64_t number);
    // `json` is inserted as it is: an array or object built elsewhere.
    JsonObject& addRaw(std::string_view key, std::string_view json);
    // The object, "{...}".
    std::string text() const { return "{" + members + "}"; }

private:
    void addKey(std::string_view key);

    std::string members;
};

} // namespace linkrelay::cli
