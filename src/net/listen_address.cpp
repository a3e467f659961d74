// Reading HOST[:PORT] for a listening server.
#include "net/listen_address.h"

#include "net/socket.h"

#include <algorithm>
#include <charconv>

namespace {

constexpr int largestPort = 65535;
constexpr int largestOctet = 255;
constexpr std::size_t largestOctetDigits = 3;

bool isDigits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The decimal number `text`, or -1 when it is not one or exceeds `largest`.
int boundedNumber(const std::string& text, int largest) {
    if (!isDigits(text) || text.size() > std::to_string(largest).size()) {
        return -1;
    }
    int value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value <= largest ? value : -1;
}

bool looksNumeric(const std::string& host) {
    return std::all_of(host.begin(), host.end(),
                       [](char c) { return (c >= '0' && c <= '9') || c == '.'; });
}

// Four numbers from 0 to 255, each of one to three digits, separated by dots.
bool isDottedQuad(const std::string& host) {
    std::size_t start = 0;
    for (int part = 0; part < 4; ++part) {
        const std::size_t dot = host.find('.', start);
        const bool last = part == 3;
        if (last != (dot == std::string::npos)) {
            return false;
        }
        const std::string octet = host.substr(start, last ? std::string::npos : dot - start);
        if (octet.size() > largestOctetDigits || boundedNumber(octet, largestOctet) < 0) {
            return false;
        }
        start = dot + 1;
    }
    return true;
}

// True when a dotted part has a leading zero ("010"). The system's resolver reads such a
// part as octal (127.000.000.010 is 127.0.0.8), so the address bound would not be the one
// written.
bool hasLeadingZeroPart(const std::string& host) {
    for (std::size_t start = 0; start < host.size();) {
        const std::size_t dot = std::min(host.find('.', start), host.size());
        if (dot - start > 1 && host[start] == '0') {
            return true;
        }
        start = dot + 1;
    }
    return false;
}

bool parseHost(const std::string& host, std::string& address, std::string& error) {
    if (host.empty()) {
        error = "no host before the ':'";
        return false;
    }
    if (looksNumeric(host)) {
        if (!isDottedQuad(host)) {
            error = "\"" + host + "\" is not an IPv4 address (four numbers from 0 to 255)";
            return false;
        }
        if (hasLeadingZeroPart(host)) {
            error = "\"" + host +
                    "\" has a number with a leading zero (the system would read it as octal)";
            return false;
        }
        address = host;
        return true;
    }
    std::string resolverError;
    if (!socketResolveIpv4(host, address, resolverError)) {
        error = "cannot resolve \"" + host + "\" to an IPv4 address: " + resolverError;
        return false;
    }
    return true;
}

} // namespace

bool parseListenAddress(const std::string& text, int defaultPort, ListenAddress& address,
                        std::string& error) {
    if (text.empty()) {
        error = "the address is empty";
        return false;
    }
    const std::size_t colon = text.find(':');
    if (colon != std::string::npos && text.find(':', colon + 1) != std::string::npos) {
        error = "\"" + text + "\" has more than one ':' (IPv6 is not supported)";
        return false;
    }
    ListenAddress parsed;
    parsed.port = defaultPort;
    if (colon != std::string::npos) {
        const std::string portText = text.substr(colon + 1);
        parsed.port = boundedNumber(portText, largestPort);
        if (parsed.port < 1) {
            error = "port \"" + portText + "\" is not a number from 1 to 65535";
            return false;
        }
    }
    if (!parseHost(text.substr(0, colon), parsed.host, error)) {
        return false;
    }
    address = parsed;
    return true;
}

std::string listenAddressText(const ListenAddress& address) {
    return address.host + ":" + std::to_string(address.port);
}
