// The stop event on Linux: an auto-reset flag under a mutex with a condition variable.
#include "service/stop_event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

struct StopEvent::State {
    std::mutex lock;              // guards signalled
    std::condition_variable wake; // notified by signal
    bool signalled = false;       // cleared by the wait that sees it
};

StopEvent::StopEvent() : state(std::make_unique<State>()) {}

StopEvent::~StopEvent() = default;

bool StopEvent::valid() const {
    return state != nullptr;
}

void StopEvent::signal() {
    const std::lock_guard<std::mutex> guard(state->lock);
    state->signalled = true;
    state->wake.notify_all();
}

StopEvent::Wait StopEvent::wait(unsigned milliseconds) {
    std::unique_lock<std::mutex> guard(state->lock);
    if (!state->wake.wait_for(guard, std::chrono::milliseconds(milliseconds),
                              [this] { return state->signalled; })) {
        return Wait::TimedOut;
    }
    state->signalled = false;
    return Wait::Signalled;
}
