// EventSink: where a conduit hands the event gobs it finishes. The Mux is the sink of the
// program; tests put their own in its place. The conduit knows nothing else of the Mux.
//
// Threads: postEvent may be called on any thread, with the conduit lock held; it takes
// only locks that come after the conduit lock and never calls back into the conduit.
#pragma once

class Gob;

class EventSink {
public:
    // Queues a copy of the gob for delivery; may drop it when nobody can take it.
    virtual void postEvent(const Gob& gob) = 0;

protected:
    ~EventSink() = default;
};
