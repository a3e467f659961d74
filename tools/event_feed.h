// The event thread of a session: it takes every event from the client as it arrives,
// prints it at once, and keeps it until a command's wait takes it, so that commands can
// wait for their answers while events keep appearing in arrival order.
//
// Threads: start() runs `pump` on a thread of its own, the only caller of the client's
// nextEvent; the session's command thread calls the waits and sends requests through the
// client meanwhile (the client allows one sender beside one receiver). `lock` guards
// `kept`, `failure` and `stopping`; `changed` is signalled whenever one of them changes.
#pragma once

#include "linkrelay/client.h"
#include "tools/event_printer.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace linkrelay::cli {

class EventFeed {
public:
    // Events beyond this many that no wait takes push out the oldest.
    static constexpr size_t maxKept = 4096;

    EventFeed(Client& client, EventPrinter& printer) : client(client), printer(printer) {}
    ~EventFeed() { stop(); }
    EventFeed(const EventFeed&) = delete;
    EventFeed& operator=(const EventFeed&) = delete;

    void start();
    // Ends the event thread and waits for it. Idempotent.
    void stop();

    // Takes the first kept or arriving event that `matcher` accepts. Throws the client
    // error that ended the event thread, or Timeout naming `awaited`.
    Event waitFor(const EventMatcher& matcher, std::chrono::milliseconds timeout,
                  const std::string& awaited);
    // The first event as waitFor, then each further one that comes within `settle`.
    std::vector<Event> waitBatch(const EventMatcher& matcher, std::chrono::milliseconds timeout,
                                 std::chrono::milliseconds settle, const std::string& awaited);
    // Lets `duration` pass while events are printed. Throws the client error that ends
    // the event thread meanwhile.
    void sleepFor(std::chrono::milliseconds duration);
    // Throws the client error that ended the event thread, if any.
    void checkFailure();
    // True when a client error ended the event thread (which has printed it).
    bool failed();

private:
    using Clock = std::chrono::steady_clock;

    void pump();
    // With `lock` held: takes the first kept event that `matcher` accepts.
    std::optional<Event> takeMatching(const EventMatcher& matcher);

    Client& client;
    EventPrinter& printer;
    std::thread thread;
    std::mutex lock;
    std::condition_variable changed;
    std::deque<Event> kept;
    std::optional<ClientError> failure;
    bool stopping = false;
};

} // namespace linkrelay::cli
