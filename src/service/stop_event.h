// The service's stop event: an auto-reset event, created non-signalled, signalled by the
// control handler and waited for by the service thread in slices.
// Windows: CreateEventW / SetEvent / WaitForSingleObject / CloseHandle.
// Linux: a flag under a mutex with a condition variable.
#pragma once

#include <memory>

class StopEvent {
public:
    enum class Wait { Signalled, TimedOut, Failed };

    StopEvent();
    ~StopEvent();
    StopEvent(const StopEvent&) = delete;
    StopEvent& operator=(const StopEvent&) = delete;

    // False when the platform could not create the event; then every wait fails.
    bool valid() const;
    void signal();
    // Waits up to `milliseconds`; a signal is consumed by the wait that sees it.
    Wait wait(unsigned milliseconds);

private:
    struct State;
    std::unique_ptr<State> state;
};
