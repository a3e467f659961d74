// Power listener on Linux: systemd-logind's PrepareForSleep signal on the system bus.
//
// While running, the listener holds a "delay" sleep inhibitor of logind, so that logind
// waits for the suspend steps before the machine sleeps. PrepareForSleep(true) runs the
// suspend callback and then releases the inhibitor; PrepareForSleep(false) asks for the
// inhibitor again and runs the resume callback. The inhibitor is asked for asynchronously,
// so no call on the bus can keep the listener from ending.
//
// The system bus is the one sd-bus opens ($DBUS_SYSTEM_BUS_ADDRESS, else the standard
// socket). Without a system bus, or once the connection fails, the listener logs one
// line and idles until it is told to end.
//
// Threads: everything on the bus, the inhibitor fd and the callbacks belong to the
// listener thread. start and end are called by the service thread; end sets `ending` and
// writes to the eventfd `wakeFd`, which the listener polls together with the bus.
#include "service/power_listener.h"

#include "log/log.h"
#include "service/power_callbacks.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char* login1Service = "org.freedesktop.login1";
constexpr const char* login1Path = "/org/freedesktop/login1";
constexpr const char* login1Manager = "org.freedesktop.login1.Manager";

// Without an eventfd (the process ran out of descriptors) end is noticed by polling.
constexpr int noWakeFdPollMs = 100;

// Milliseconds from now until the absolute CLOCK_MONOTONIC time `deadlineUs`, for poll.
int pollTimeoutUntil(uint64_t deadlineUs) {
    if (deadlineUs == UINT64_MAX) {
        return -1;
    }
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t nowUs =
        static_cast<uint64_t>(now.tv_sec) * 1000000 + static_cast<uint64_t>(now.tv_nsec) / 1000;
    if (deadlineUs <= nowUs) {
        return 0;
    }
    const uint64_t waitMs = (deadlineUs - nowUs + 999) / 1000;
    return static_cast<int>(std::min<uint64_t>(waitMs, INT_MAX));
}

} // namespace

struct PowerListener::State {
    std::atomic<bool> ending{false}; // set by end, read by the listener thread
    int wakeFd = -1;                 // eventfd written by end; created by the constructor
    std::thread thread;              // the listener thread

    // Listener thread only.
    sd_bus* bus = nullptr; // the system bus connection
    int inhibitorFd = -1;  // logind's delay inhibitor while held
    bool asleep = false;   // between PrepareForSleep(true) and PrepareForSleep(false)

    void run();
    bool connect();
    void serveBus();
    void idleUntilEnd() const;
    bool waitForBusOrWake() const;
    void requestInhibitor();
    void releaseInhibitor();
    void prepareForSleep(bool sleeping);

    static int onInhibitReply(sd_bus_message* reply, void* self, sd_bus_error* error);
    static int onPrepareForSleep(sd_bus_message* signal, void* self, sd_bus_error* error);
};

void PowerListener::State::run() {
    if (connect()) {
        serveBus();
    }
    releaseInhibitor();
    bus = sd_bus_flush_close_unref(bus);
    idleUntilEnd();
}

// Opens the system bus and subscribes to PrepareForSleep; logs the one line and returns
// false when that fails.
bool PowerListener::State::connect() {
    int result = sd_bus_open_system(&bus);
    if (result >= 0) {
        result = sd_bus_match_signal(bus, nullptr, login1Service, login1Path, login1Manager,
                                     "PrepareForSleep", onPrepareForSleep, this);
    }
    if (result < 0) {
        logPrint(LogStamp::With, "power: no system bus (%s), suspend and resume not watched\n",
                 std::strerror(-result));
        return false;
    }
    requestInhibitor();
    return true;
}

// Handles bus traffic until end is called or the connection fails.
void PowerListener::State::serveBus() {
    while (!ending.load()) {
        const int result = sd_bus_process(bus, nullptr);
        if (result < 0) {
            logPrint(LogStamp::With,
                     "power: system bus lost (%s), suspend and resume not watched\n",
                     std::strerror(-result));
            return;
        }
        if (result == 0 && !waitForBusOrWake()) {
            logPrint(LogStamp::With, "power: cannot wait for the system bus (%s)\n",
                     std::strerror(errno));
            return;
        }
    }
}

// Waits until the bus has work or end is called; false when the wait itself fails.
bool PowerListener::State::waitForBusOrWake() const {
    const int events = sd_bus_get_events(bus);
    uint64_t deadlineUs = UINT64_MAX;
    if (events < 0 || sd_bus_get_timeout(bus, &deadlineUs) < 0) {
        // The connection is closing: the next process call reports it.
        return true;
    }
    pollfd fds[2] = {{sd_bus_get_fd(bus), static_cast<short>(events), 0}, {wakeFd, POLLIN, 0}};
    int timeout = pollTimeoutUntil(deadlineUs);
    if (wakeFd < 0 && (timeout < 0 || timeout > noWakeFdPollMs)) {
        timeout = noWakeFdPollMs;
    }
    const int ready = poll(fds, 2, timeout);
    return ready >= 0 || errno == EINTR;
}

void PowerListener::State::idleUntilEnd() const {
    pollfd wake{wakeFd, POLLIN, 0};
    while (!ending.load()) {
        poll(&wake, 1, wakeFd >= 0 ? -1 : noWakeFdPollMs);
    }
}

void PowerListener::State::requestInhibitor() {
    const int result = sd_bus_call_method_async(
        bus, nullptr, login1Service, login1Path, login1Manager, "Inhibit", onInhibitReply, this,
        "ssss", "sleep", "linkrelay", "stop BLE work before sleep", "delay");
    if (result < 0) {
        logPrint(LogStamp::With, "power: cannot ask for the sleep inhibitor (%s)\n",
                 std::strerror(-result));
    }
}

void PowerListener::State::releaseInhibitor() {
    if (inhibitorFd >= 0) {
        close(inhibitorFd);
        inhibitorFd = -1;
    }
}

int PowerListener::State::onInhibitReply(sd_bus_message* reply, void* self,
                                         sd_bus_error* /*error*/) {
    auto* state = static_cast<State*>(self);
    const sd_bus_error* failure = sd_bus_message_get_error(reply);
    if (failure != nullptr) {
        logPrint(LogStamp::With, "power: sleep inhibitor refused (%s)\n",
                 failure->message != nullptr ? failure->message : failure->name);
        return 0;
    }
    int fd = -1;
    if (sd_bus_message_read(reply, "h", &fd) < 0) {
        logPrint(LogStamp::With, "power: sleep inhibitor reply unreadable\n");
        return 0;
    }
    // The reply owns its fd; keep a copy of our own. A reply that arrives after the
    // system started to sleep must not hold the sleep back: drop it at once.
    if (state->asleep || state->inhibitorFd >= 0) {
        return 0;
    }
    state->inhibitorFd = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    return 0;
}

int PowerListener::State::onPrepareForSleep(sd_bus_message* signal, void* self,
                                            sd_bus_error* /*error*/) {
    int sleeping = 0;
    if (sd_bus_message_read(signal, "b", &sleeping) < 0) {
        return 0;
    }
    static_cast<State*>(self)->prepareForSleep(sleeping != 0);
    return 0;
}

void PowerListener::State::prepareForSleep(bool sleeping) {
    asleep = sleeping;
    if (sleeping) {
        callSuspendHandler();
        releaseInhibitor();
        return;
    }
    // Asked for before the resume steps, so that a sleep that follows soon after the
    // resume still waits for the suspend steps.
    requestInhibitor();
    callResumeHandler();
}

PowerListener::PowerListener() : state(std::make_unique<State>()) {
    state->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

PowerListener::~PowerListener() {
    end();
    if (state->wakeFd >= 0) {
        close(state->wakeFd);
    }
}

void PowerListener::start() {
    if (state->thread.joinable()) {
        return;
    }
    state->thread = std::thread([this] { state->run(); });
}

void PowerListener::end() {
    state->ending.store(true);
    if (state->wakeFd >= 0) {
        // A failed write means the counter is already non-zero: the listener wakes anyway.
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(state->wakeFd, &one, sizeof one);
    }
    if (state->thread.joinable()) {
        state->thread.join();
    }
}
