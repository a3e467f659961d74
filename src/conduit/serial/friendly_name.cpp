// The friendly-name match: the dongle's name formatted into a scan pattern, and the
// name scanned with it.
//
// Threads: plain functions; any thread.
#include "conduit/serial/friendly_name.h"

#include <array>
#include <cstdio>

namespace {

constexpr const char* dongleName = "Bluegiga Bluetooth Low Energy";
constexpr size_t patternLimit = 260;

} // namespace

int dongleComPort(const char* friendlyName) {
    std::array<char, patternLimit> pattern{};
    std::snprintf(pattern.data(), pattern.size(), "%s (COM%%d)", dongleName);
    int port = -1;
    // A name is the dongle's only when the pattern converts exactly one number, and no
    // port has a negative one.
    if (std::sscanf(friendlyName, pattern.data(), &port) == 1 && port >= 0) {
        return port;
    }
    return -1;
}
