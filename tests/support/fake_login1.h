// A stand-in for systemd-logind on a private bus: it owns org.freedesktop.login1, answers
// Manager.Inhibit with the write end of a pipe (so it sees when the holder closes it),
// and emits Manager.PrepareForSleep on demand.
//
// Threads: single-threaded. The bus is served only inside pumpUntil, on the caller's
// thread; the counters are read on that thread too. `note` is called from pumpUntil.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <systemd/sd-bus.h>
#include <vector>

namespace harness {

class FakeLogin1 {
public:
    struct InhibitCall {
        std::string what;
        std::string who;
        std::string why;
        std::string mode;
    };

    // Connects to the bus at `address` and takes logind's name. `note` hears "inhibit"
    // when an inhibitor is handed out and "released" when its holder has closed it.
    FakeLogin1(const std::string& address, std::function<void(const std::string&)> note);
    ~FakeLogin1();
    FakeLogin1(const FakeLogin1&) = delete;
    FakeLogin1& operator=(const FakeLogin1&) = delete;

    bool ready() const { return bus != nullptr; }
    // Answer Inhibit with an access-denied error from now on.
    void refuseInhibit() { refusing = true; }
    // Serves the bus and watches the inhibitors until `done` holds or `timeout` passes.
    bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    bool emitPrepareForSleep(bool sleeping);

    const std::vector<InhibitCall>& inhibitCalls() const { return calls; }
    int inhibitorsHandedOut() const { return handedOut; }
    int inhibitorsReleased() const { return released; }
    int inhibitorsHeld() const { return static_cast<int>(heldPipes.size()); }

private:
    static int onMethodCall(sd_bus_message* call, void* self, sd_bus_error* error);
    int answerInhibit(sd_bus_message* call);
    void collectReleases();

    std::function<void(const std::string&)> note;
    sd_bus* bus = nullptr;
    bool refusing = false;
    std::vector<InhibitCall> calls;
    std::vector<int> heldPipes; // read ends of the pipes whose write ends were handed out
    int handedOut = 0;
    int released = 0;
};

// Emits PrepareForSleep on logind's path and interface from a connection of its own that
// does not own logind's name, as an impostor would.
bool emitPrepareForSleepFrom(const std::string& address, bool sleeping);

} // namespace harness
