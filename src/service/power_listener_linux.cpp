// Power listener on Linux, first form: no system bus is consulted yet. The listener
// thread logs one line and idles until it is told to end.
#include "service/power_listener.h"

#include "log/log.h"

#include <condition_variable>
#include <mutex>
#include <thread>

struct PowerListener::State {
    std::mutex lock;              // guards ending
    std::condition_variable wake; // notified by end
    bool ending = false;          // end has been called
    std::thread thread;           // the listener thread
};

PowerListener::PowerListener() : state(std::make_unique<State>()) {}

PowerListener::~PowerListener() {
    end();
}

void PowerListener::start() {
    state->thread = std::thread([this] {
        logPrint(1, "service: power listener: no system bus, suspend and resume not watched\n");
        std::unique_lock<std::mutex> guard(state->lock);
        state->wake.wait(guard, [this] { return state->ending; });
    });
}

void PowerListener::end() {
    {
        const std::lock_guard<std::mutex> guard(state->lock);
        state->ending = true;
    }
    state->wake.notify_all();
    if (state->thread.joinable()) {
        state->thread.join();
    }
}
