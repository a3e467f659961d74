// The address a listening server binds, as a user writes it: HOST[:PORT].
//
// HOST is an IPv4 address in dotted decimal (four numbers from 0 to 255) or a host name,
// which is resolved once, here, to its first IPv4 address; PORT is a number from 1 to
// 65535 and defaults to the caller's port. Text made only of digits and dots is taken as
// an address, never as a name, so "1.2.3" is refused instead of being read the C
// library's old way (1.2.0.3).
//
// Threads: no state; any thread.
#pragma once

#include <string>

struct ListenAddress {
    std::string host; // IPv4 address in dotted decimal
    int port = 0;
};

// Reads `text`; false with `error` set (a sentence without the option's name) when it is
// not a usable HOST[:PORT].
bool parseListenAddress(const std::string& text, int defaultPort, ListenAddress& address,
                        std::string& error);

// "HOST:PORT".
std::string listenAddressText(const ListenAddress& address);
