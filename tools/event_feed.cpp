// The session's event thread and the waits on what it has seen.
#include "tools/event_feed.h"

namespace linkrelay::cli {

namespace {

// How long the event thread waits for an event before it looks at `stopping` again.
constexpr std::chrono::milliseconds pollPeriod{50};

std::string millisecondsText(std::chrono::milliseconds timeout) {
    return std::to_string(timeout.count()) + " ms";
}

} // namespace

void EventFeed::start() {
    thread = std::thread([this] { pump(); });
}

void EventFeed::stop() {
    {
        const std::lock_guard guard(lock);
        stopping = true;
    }
    changed.notify_all();
    if (thread.joinable()) {
        thread.join();
    }
}

void EventFeed::pump() {
    for (;;) {
        {
            const std::lock_guard guard(lock);
            if (stopping) {
                return;
            }
        }
        std::optional<Event> event;
        try {
            event = client.nextEvent(pollPeriod);
        } catch (const ClientError& error) {
            printer.error(error.what());
            const std::lock_guard guard(lock);
            failure = error;
            changed.notify_all();
            return;
        }
        if (event) {
            printer.event(*event);
            const std::lock_guard guard(lock);
            if (kept.size() >= maxKept) {
                kept.pop_front();
            }
            kept.push_back(std::move(*event));
            changed.notify_all();
        }
    }
}

std::optional<Event> EventFeed::takeMatching(const EventMatcher& matcher) {
    for (auto it = kept.begin(); it != kept.end(); ++it) {
        if (matcher(*it)) {
            Event event = std::move(*it);
            kept.erase(it);
            return event;
        }
    }
    return std::nullopt;
}

Event EventFeed::waitFor(const EventMatcher& matcher, std::chrono::milliseconds timeout,
                         const std::string& awaited) {
    const Clock::time_point deadline = Clock::now() + timeout;
    std::unique_lock guard(lock);
    for (;;) {
        if (std::optional<Event> event = takeMatching(matcher)) {
            return std::move(*event);
        }
        if (failure) {
            throw *failure;
        }
        if (changed.wait_until(guard, deadline) == std::cv_status::timeout) {
            if (std::optional<Event> event = takeMatching(matcher)) {
                return std::move(*event);
            }
            throw ClientError(ClientErrorKind::Timeout,
                              "no " + awaited + " within " + millisecondsText(timeout));
        }
    }
}

std::vector<Event> EventFeed::waitBatch(const EventMatcher& matcher,
                                        std::chrono::milliseconds timeout,
                                        std::chrono::milliseconds settle,
                                        const std::string& awaited) {
    std::vector<Event> batch{waitFor(matcher, timeout, awaited)};
    for (;;) {
        try {
            batch.push_back(waitFor(matcher, settle, awaited));
        } catch (const ClientError& error) {
            if (error.kind() != ClientErrorKind::Timeout) {
                throw;
            }
            return batch;
        }
    }
}

void EventFeed::sleepFor(std::chrono::milliseconds duration) {
    const Clock::time_point deadline = Clock::now() + duration;
    std::unique_lock guard(lock);
    changed.wait_until(guard, deadline, [this] { return failure.has_value(); });
    if (failure) {
        throw *failure;
    }
}

void EventFeed::checkFailure() {
    const std::lock_guard guard(lock);
    if (failure) {
        throw *failure;
    }
}

bool EventFeed::failed() {
    const std::lock_guard guard(lock);
    return failure.has_value();
}

} // namespace linkrelay::cli
