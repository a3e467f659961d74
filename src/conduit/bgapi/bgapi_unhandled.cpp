// unhandledMessage: one line on standard output per known message without a handler.
#include "conduit/bgapi/bgapi_dispatch.h"

#include <cstdio>

void unhandledMessage(const uint8_t* /*payload*/) {
    std::fputs("RVL: unhandled BG response\n", stdout);
    std::fflush(stdout);
}
