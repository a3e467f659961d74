// The stop event on Windows: an unnamed auto-reset event, created non-signalled.
// signal may be called from any thread; wait from one thread at a time. The handle lives
// as long as the StopEvent.
#include "service/stop_event.h"

#include <windows.h>

struct StopEvent::State {
    HANDLE event = nullptr; // null when CreateEventW failed
};

StopEvent::StopEvent() : state(std::make_unique<State>()) {
    state->event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

StopEvent::~StopEvent() {
    if (state->event != nullptr) {
        CloseHandle(state->event);
    }
}

bool StopEvent::valid() const {
    return state->event != nullptr;
}

void StopEvent::signal() {
    if (state->event != nullptr) {
        SetEvent(state->event);
    }
}

StopEvent::Wait StopEvent::wait(unsigned milliseconds) {
    if (state->event == nullptr) {
        return Wait::Failed;
    }
    switch (WaitForSingleObject(state->event, milliseconds)) {
    case WAIT_OBJECT_0:
        return Wait::Signalled;
    case WAIT_TIMEOUT:
        return Wait::TimedOut;
    default:
        return Wait::Failed;
    }
}
