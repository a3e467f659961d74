// The stream layer's fatal-error path: the panic handler and streamPanic.
//
// A panic formats its text into a 128-byte buffer, hands it to the handler and ends the
// process with exit status 1. The process ends with _Exit after flushing the C streams:
// other threads may still be running, and static destructors must not run under them.
//
// Threads: setPanicHandler and streamPanic are called from the thread that owns the
// layer; the handler runs on it.
#include "net/stream.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

std::function<void(const char*)>& panicHandler() {
    static std::function<void(const char*)> handler;
    return handler;
}

} // namespace

void setPanicHandler(std::function<void(const char* text)> handler) {
    panicHandler() = std::move(handler);
}

void streamPanic(const char* format, ...) {
    static char text[128];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    if (panicHandler()) {
        panicHandler()(text);
    }
    std::fflush(nullptr);
    std::_Exit(1);
}
