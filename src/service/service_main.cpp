// The service main function and its control handler.
//
// serviceMainSteps reports start pending and running, starts the Daemon and the power
// listener, waits for the stop event (in one-hour slices), then stops the Daemon for good,
// reports stop pending, ends the power listener and reports stopped.
//
// Lock order: serviceLock is a leaf (only the log lock is taken under it). The Daemon's
// own lock is never taken while serviceLock is held, and no lock is held while the power
// listener is told to end, since the listener may be inside a suspend or resume step
// waiting for the Daemon.
#include "service/service_main.h"

#include "log/log.h"
#include "service/daemon.h"
#include "service/power_listener.h"
#include "service/service_status.h"
#include "service/stop_event.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// Only the stop event ends the wait; a slice just bounds each wait call.
constexpr unsigned stopWaitSliceMs = 3600U * 1000U;
constexpr auto resumeDelay = std::chrono::seconds(4);

std::mutex serviceLock;               // guards serviceStatus and stopEvent
ServiceStatus serviceStatus;          // the record last reported
std::unique_ptr<StopEvent> stopEvent; // exists from before "running" until "stopping"

void setStateAndReport(ServiceState state, const char* line) {
    const std::lock_guard<std::mutex> guard(serviceLock);
    serviceStatus.currentState = state;
    logPrint(LogStamp::With, "%s", line);
    reportStatus(serviceStatus);
}

void installPowerHandlers(Daemon& daemon) {
    setSuspendHandler([&daemon] {
        logPrint(LogStamp::With, "service: handling suspend\n");
        daemon.stop();
    });
    setResumeHandler([&daemon] {
        logPrint(LogStamp::With, "service: handling resume (sleeping)\n");
        std::this_thread::sleep_for(resumeDelay);
        logPrint(LogStamp::With, "service: handling resume (starting linkrelay)\n");
        daemon.start();
    });
}

void waitForStop() {
    StopEvent* event = nullptr;
    {
        const std::lock_guard<std::mutex> guard(serviceLock);
        event = stopEvent.get();
    }
    // The event lives until this thread closes it in the final step, so it is safe to
    // wait on without the lock.
    while (event->wait(stopWaitSliceMs) == StopEvent::Wait::TimedOut) {
    }
}

} // namespace

void serviceMainSteps() {
    {
        const std::lock_guard<std::mutex> guard(serviceLock);
        serviceStatus = ServiceStatus{};
    }
    logPrint(LogStamp::With, "service: registering\n");
    if (!registerControlHandler()) {
        return;
    }
    setStateAndReport(ServiceState::StartPending, "service: starting\n");
    {
        const std::lock_guard<std::mutex> guard(serviceLock);
        stopEvent = std::make_unique<StopEvent>();
        serviceStatus.controlsAccepted |= acceptStopAndShutdown;
    }
    setStateAndReport(ServiceState::Running, "service: running\n");

    Daemon daemon;
    logPrint(LogStamp::With, "service: starting linkrelay\n");
    daemon.start();
    installPowerHandlers(daemon);
    PowerListener powerListener;
    powerListener.start();
    logPrint(LogStamp::With, "service: waiting for stop\n");
    waitForStop();

    logPrint(LogStamp::With, "service: stopping linkrelay\n");
    daemon.retire();
    setStateAndReport(ServiceState::StopPending, "service: stop pending\n");
    powerListener.end();
    // The listener thread has ended: no callback can reach the Daemon any more.
    setSuspendHandler({});
    setResumeHandler({});

    const std::lock_guard<std::mutex> guard(serviceLock);
    stopEvent.reset();
    serviceStatus.controlsAccepted &= ~acceptStopAndShutdown;
    serviceStatus.currentState = ServiceState::Stopped;
    logPrint(LogStamp::With, "service: stopping\n");
    reportStatus(serviceStatus);
}

bool serviceControl(uint32_t control) {
    if (control != controlStop && control != controlShutdown) {
        logPrint(LogStamp::With, "service: serviceCtrlHandler ignoring ctrl %d\n",
                 static_cast<int>(control));
        return true;
    }
    const std::lock_guard<std::mutex> guard(serviceLock);
    if (stopEvent == nullptr) {
        // Before the event exists or after the service has stopped: nothing to signal,
        // and the final report must stand.
        return false;
    }
    logPrint(LogStamp::With, "service: serviceCtrlHandler handling shutdown or stop\n");
    serviceStatus.currentState = ServiceState::StopPending;
    reportStatus(serviceStatus);
    stopEvent->signal();
    return true;
}
