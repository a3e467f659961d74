// The mux thread's loop.
#include "mux/run_mux.h"

#include "log/log.h"
#include "mux/mux.h"

namespace {

// Inits until it succeeds (true) or a stop is requested (false).
bool initUntilUp(Mux& mux, Conduit& conduit, MuxMessage& message,
                 const std::function<bool()>& stopping, const InitRetryPause& pause) {
    while (!stopping()) {
        if (mux.init(&conduit, message) == 0) {
            return true;
        }
        logPrint(LogStamp::With, "mux init error: %s\n", message.data());
        pause(muxInitRetryMs);
    }
    return false;
}

// Runs work steps until one fails or a stop is requested.
void workUntilFailure(Mux& mux, MuxMessage& message, const std::function<bool()>& stopping) {
    while (!stopping()) {
        const int result = mux.work(message);
        if (result < 0) {
            logPrint(LogStamp::With, "mux work error: %s\n", message.data());
            return;
        }
        if (result > 0) {
            logPrint(LogStamp::With, "mux work warning: %s\n", message.data());
        }
    }
}

} // namespace

void runMuxLoop(Mux& mux, Conduit& conduit, const std::function<bool()>& stopping) {
    runMuxLoop(mux, conduit, stopping,
               [&](int milliseconds) { mux.restAfterFailedInit(milliseconds, stopping); });
}

void runMuxLoop(Mux& mux, Conduit& conduit, const std::function<bool()>& stopping,
                const InitRetryPause& pause) {
    MuxMessage message{};
    while (!stopping()) {
        if (initUntilUp(mux, conduit, message, stopping, pause)) {
            workUntilFailure(mux, message, stopping);
        }
        // Also after inits that never succeeded: a stop always leaves the Mux closed.
        mux.close();
    }
}
