// Program entry on Linux: a foreground daemon for systemd.
//
// The main thread plays the part of the service dispatcher: it runs the service steps on
// a service thread of their own and turns the stop signals into the stop control:
// SIGTERM and SIGINT, and also SIGHUP, SIGUSR1 and SIGUSR2, whose default action would
// end the process at once, without the clean stop (the dongle left as it was). The
// signals are blocked in every thread and taken synchronously here with sigtimedwait, so
// no work happens in a signal handler. The main thread sleeps until a signal comes: the
// service thread sends it SIGTERM when it ends (the stop then finds no service to stop).
#include "log/log.h"
#include "service/build_info.h"
#include "service/descriptor_limit.h"
#include "service/service_main.h"
#include "service/service_options.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <pthread.h>
#include <thread>

namespace {

// Blocks the stop signals in this thread and every thread started after it.
sigset_t blockStopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int stopSignal : {SIGTERM, SIGINT, SIGHUP, SIGUSR1, SIGUSR2}) {
        sigaddset(&signals, stopSignal);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

// Runs the service steps on the service thread; passes stop signals to the control
// handler until they have ended.
void dispatchService() {
    const sigset_t signals = blockStopSignals();
    std::atomic<bool> serviceEnded{false};
    const pthread_t mainThread = pthread_self();
    std::thread service([&serviceEnded, mainThread] {
        serviceMainSteps();
        serviceEnded.store(true);
        // Ends the wait below, which otherwise lasts until a signal comes. SIGTERM is
        // blocked and taken by sigtimedwait there, so it ends nothing else.
        pthread_kill(mainThread, SIGTERM); // NOLINT(bugprone-bad-signal-to-kill-thread)
    });
    // A signal that comes before the service has its stop event is kept and delivered
    // once the event exists, instead of being lost: retried every 100 ms while pending.
    bool stopPending = false;
    const timespec slice{0, 100L * 1000 * 1000};
    while (!serviceEnded.load()) {
        const int received = sigtimedwait(&signals, nullptr, stopPending ? &slice : nullptr);
        if (received > 0) {
            stopPending = true; // one of the blocked stop signals
        }
        if (stopPending) {
            stopPending = !serviceControl(controlStop);
        }
    }
    service.join();
}

} // namespace

int main(int argc, char** argv) {
    // A reader of standard error that goes away must not end the service.
    std::signal(SIGPIPE, SIG_IGN);
    ServiceOptions options;
    std::string error;
    if (!parseServiceOptions({argv + 1, argv + argc}, options, error)) {
        std::fprintf(stderr, "linkrelay: %s\n%s", error.c_str(), serviceUsage(false).c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(serviceUsage(false).c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("%s\n", versionLine().c_str());
        return 0;
    }
    setServiceOptions(options);
    logOpen();
    raiseDescriptorLimit();
    logPrint(LogStamp::With, "service: calling StartServiceCtrlDispatcher\n");
    dispatchService();
    logClose();
    return 0;
}
