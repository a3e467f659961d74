// The power-event listener: on a thread of its own it calls the suspend callback when
// the system is about to suspend and the resume callback when it has resumed, until it
// is told to end.
// Windows: a hidden window of class "KVT power listener" receiving WM_POWERBROADCAST.
// Linux: systemd-logind's PrepareForSleep signal on the system bus, with a delay
// inhibitor lock held while running so that the suspend steps finish before the sleep.
//
// Threads: the callbacks run on the listener thread; start and end are called by the
// service thread. end returns after the listener thread has ended, so once it returns no
// callback is running and none will run.
#pragma once

#include <functional>
#include <memory>

using PowerCallback = std::function<void()>;

// Process-wide callback slots, filled by the service thread before the listener starts.
void setSuspendHandler(PowerCallback callback);
void setResumeHandler(PowerCallback callback);

class PowerListener {
public:
    PowerListener();
    ~PowerListener(); // ends the listener if it still runs
    PowerListener(const PowerListener&) = delete;
    PowerListener& operator=(const PowerListener&) = delete;

    // Starts the listener thread.
    void start();
    // Tells the listener to end and waits for its thread; safe before it is fully up
    // and when it was never started.
    void end();

private:
    struct State;
    std::unique_ptr<State> state;
};
