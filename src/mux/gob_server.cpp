// GobServer: listening, the client stream list with ready marks and frame parsers, the
// stream event handlers, framing for sending, the recorded error state, and the bounds on
// clients (their number, the gobs dispatched per step, the time a begun frame may take).
//
// Threads: the mux thread only (see gob_server.h); the state below has no lock.
#include "mux/gob_server.h"

#include "gob/gob_framing.h"
#include "log/log.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr Clock::time_point noDeadline = Clock::time_point::max();

// One accepted stream. The ready mark, the parser and the counters live in the entry, so
// they move with their stream when a removed entry is replaced by the last one.
struct ClientEntry {
    Stream* stream = nullptr;
    bool ready = false; // the stream has reported Ready: serverSend may write
    GobFrameParser parser;
    std::uint64_t step = 0;                  // the work step `dispatched` counts for
    int dispatched = 0;                      // gobs dispatched from the stream in that step
    bool backlog = false;                    // input held; complete gobs may wait in the parser
    Clock::time_point frameDue = noDeadline; // a begun frame must be complete by then
};

constexpr std::size_t initialClientRoom = 16;

struct GobServerState {
    GobServerHooks hooks;
    std::vector<ClientEntry> clientStreams;
    std::unordered_map<const Stream*, std::size_t> positions; // index in clientStreams
    std::unique_ptr<GobFramer> sendScratch;
    char serverErrorText[gobServerTextSize] = {};
    bool streamFailed = false;                      // a stream reported an error
    bool panicked = false;                          // the stream layer panicked
    std::size_t clientLimit = gobServerClientLimit; // as asked (tests)
    double frameSeconds = gobServerFrameSeconds;    // as asked (tests)
    std::size_t servedLimit = gobServerClientLimit; // clientLimit within the descriptors
    bool refusing = false;                          // closing connections at the limit
    std::uint64_t step = 0;                         // work steps so far
    std::size_t backlogged = 0;                     // entries with a backlog
    Clock::time_point nextDue = noDeadline;         // no frame is due before
};

GobServerState& server() {
    static GobServerState state;
    return state;
}

void copyText(const char* text) {
    std::snprintf(server().serverErrorText, gobServerTextSize, "%s", text);
}

ClientEntry* findEntry(const Stream* stream) {
    GobServerState& state = server();
    const auto found = state.positions.find(stream);
    return found == state.positions.end() ? nullptr : &state.clientStreams[found->second];
}

// The client limit within the descriptor limit: clients leave the reserve free.
std::size_t clientsWithin(std::size_t limit) {
    const int descriptors = socketDescriptorLimit();
    const int reserve = gobServerDescriptorReserve;
    const int room = descriptors > 2 * reserve ? descriptors - reserve : descriptors / 2;
    const auto served = std::min(limit, static_cast<std::size_t>(std::max(room, 1)));
    if (served < limit) {
        logPrint(LogStamp::With, "mux: at most %zu clients (descriptor limit %d)\n", served,
                 descriptors);
    }
    return served;
}

// Holds the stream's input while it has a backlog, and releases it after.
void setBacklog(ClientEntry& entry, bool backlog) {
    if (entry.backlog == backlog) {
        return;
    }
    entry.backlog = backlog;
    GobServerState& state = server();
    state.backlogged = backlog ? state.backlogged + 1 : state.backlogged - 1;
    streamHoldInput(entry.stream, backlog);
}

// Starts the clock of a begun frame, or stops it when no frame is begun.
void timeFrame(ClientEntry& entry, bool completedOne) {
    if (!entry.parser.holdsPartialFrame()) {
        entry.frameDue = noDeadline;
        return;
    }
    if (completedOne || entry.frameDue == noDeadline) {
        GobServerState& state = server();
        const std::chrono::duration<double> limit(state.frameSeconds);
        entry.frameDue = Clock::now() + std::chrono::duration_cast<Clock::duration>(limit);
        state.nextDue = std::min(state.nextDue, entry.frameDue);
    }
}

// Dispatches the complete gobs the parser holds, at most gobServerPassGobs in a work
// step. The hooks never add or remove entries (only Accept and Destroy do), so `entry`
// stays valid throughout.
void dispatchFrom(ClientEntry& entry) {
    GobServerState& state = server();
    if (entry.step != state.step) {
        entry.step = state.step;
        entry.dispatched = 0;
    }
    Stream* stream = entry.stream;
    const GobServerHooks& hooks = state.hooks;
    bool completedOne = false;
    while (stream->state == StreamState::Connected) {
        if (entry.dispatched >= gobServerPassGobs) {
            setBacklog(entry, true);
            return;
        }
        Gob gob;
        const GobFrameStatus status = entry.parser.next(gob);
        if (status == GobFrameStatus::NeedMore) {
            break;
        }
        if (status == GobFrameStatus::Malformed) {
            if (hooks.onBadFrame != nullptr) {
                hooks.onBadFrame(stream, hooks.context);
            }
            return;
        }
        ++entry.dispatched;
        completedOne = true;
        if (hooks.onGob != nullptr) {
            hooks.onGob(stream, gob, hooks.context);
        }
    }
    setBacklog(entry, false);
    if (stream->state == StreamState::Connected) {
        timeFrame(entry, completedOne);
    }
}

// Drops the clients whose begun frame is due, and finds the next deadline.
void dropStalled(Clock::time_point now) {
    GobServerState& state = server();
    state.nextDue = noDeadline;
    for (ClientEntry& entry : state.clientStreams) {
        if (entry.frameDue > now) {
            state.nextDue = std::min(state.nextDue, entry.frameDue);
            continue;
        }
        entry.frameDue = noDeadline;
        if (entry.stream->state != StreamState::Connected) {
            continue;
        }
        if (state.hooks.onStalled != nullptr) {
            state.hooks.onStalled(entry.stream, state.hooks.context);
        } else {
            streamClose(entry.stream);
        }
    }
}

void onError(StreamEvent* event) {
    copyText(event->message != nullptr ? event->message : "");
    server().streamFailed = true;
}

void onDestroy(StreamEvent* event) {
    GobServerState& state = server();
    auto& entries = state.clientStreams;
    const auto found = state.positions.find(event->stream);
    if (found != state.positions.end()) {
        const std::size_t position = found->second;
        state.positions.erase(found);
        if (entries[position].backlog) {
            --state.backlogged;
        }
        if (position != entries.size() - 1) {
            entries[position] = std::move(entries.back());
            state.positions[entries[position].stream] = position;
        }
        entries.pop_back();
    }
    const GobServerHooks& hooks = state.hooks;
    if (hooks.onRemove != nullptr) {
        hooks.onRemove(event->stream, hooks.context);
    }
}

void onData(StreamEvent* event) {
    ClientEntry* entry = findEntry(event->stream);
    if (entry == nullptr) {
        return;
    }
    entry->parser.feed(event->data, static_cast<std::size_t>(event->size));
    dispatchFrom(*entry);
}

void onReady(StreamEvent* event) {
    ClientEntry* entry = findEntry(event->stream);
    if (entry != nullptr) {
        entry->ready = true;
    }
}

// Closes a connection beyond the client limit; one log line per episode.
void refuse(Stream* remote) {
    GobServerState& state = server();
    if (!state.refusing) {
        state.refusing = true;
        logPrint(LogStamp::With, "mux: client limit of %zu reached, closing new connections\n",
                 state.servedLimit);
    }
    streamClose(remote);
}

void onAccept(StreamEvent* event) {
    GobServerState& state = server();
    auto& entries = state.clientStreams;
    if (entries.size() >= state.servedLimit) {
        refuse(event->remote);
        return;
    }
    state.refusing = false;
    if (entries.size() == entries.capacity()) {
        entries.reserve(2 * entries.size() + 2);
    }
    ClientEntry entry;
    entry.stream = event->remote;
    entries.push_back(std::move(entry));
    state.positions[event->remote] = entries.size() - 1;
    addListener(event->remote, StreamEventType::Destroy, onDestroy);
    addListener(event->remote, StreamEventType::Data, onData);
    addListener(event->remote, StreamEventType::Ready, onReady);
    addListener(event->remote, StreamEventType::Error, onError);
    const GobServerHooks& hooks = state.hooks;
    if (hooks.onAdd != nullptr) {
        hooks.onAdd(event->remote, hooks.context);
    }
}

void onRest(StreamEvent* event) {
    logPrint(LogStamp::With, "mux: %s, pausing new connections\n",
             event->message != nullptr ? event->message : "");
}

void onPanic(const char* text) {
    copyText(text);
    server().panicked = true;
}

} // namespace

void serverSetHooks(const GobServerHooks& hooks) {
    server().hooks = hooks;
}

void serverSetLimits(std::size_t clientLimit, double frameSeconds) {
    server().clientLimit = clientLimit;
    server().frameSeconds = frameSeconds;
}

int serverInit(char* text) {
    GobServerState& state = server();
    setPanicHandler(onPanic);
    state.serverErrorText[0] = '\0';
    state.streamFailed = false;
    state.panicked = false;
    const int error = streamInit();
    if (error != 0) {
        std::snprintf(text, gobServerTextSize, "%s",
                      streamErrorText("could not create wake-up signal", error).c_str());
        return -1;
    }
    state.sendScratch = std::make_unique<GobFramer>();
    state.clientStreams.clear();
    state.clientStreams.reserve(initialClientRoom);
    state.positions.clear();
    state.servedLimit = clientsWithin(state.clientLimit);
    state.refusing = false;
    state.backlogged = 0;
    state.nextDue = noDeadline;
    return 0;
}

Stream* serverCreate(const ListenAddress& address) {
    Stream* listening = newStream();
    addListener(listening, StreamEventType::Accept, onAccept);
    addListener(listening, StreamEventType::Error, onError);
    addListener(listening, StreamEventType::Destroy, onDestroy);
    addListener(listening, StreamEventType::Rest, onRest);
    if (streamListen(listening, address.host.c_str(), address.port, gobServerBacklog) != 0) {
        return nullptr;
    }
    return listening;
}

void serverPass() {
    GobServerState& state = server();
    ++state.step;
    if (state.backlogged > 0) {
        for (ClientEntry& entry : state.clientStreams) {
            if (entry.backlog) {
                dispatchFrom(entry);
            }
        }
    }
    const Clock::time_point now = Clock::now();
    if (now >= state.nextDue) {
        dropStalled(now);
    }
}

double serverWaitLimit() {
    const GobServerState& state = server();
    if (state.backlogged > 0) {
        return 0.0;
    }
    if (state.nextDue == noDeadline) {
        return streamWaitForever;
    }
    const std::chrono::duration<double> left = state.nextDue - Clock::now();
    return std::max(left.count(), 0.0);
}

int serverSend(const Gob& gob, Stream* stream) {
    const ClientEntry* entry = findEntry(stream);
    if (entry == nullptr || !entry->ready) {
        return 1;
    }
    const auto frame = server().sendScratch->frame(gob);
    streamWrite(stream, frame.data(), frame.size());
    return 0;
}

std::size_t serverUnsent(const Stream* stream) {
    return stream->writeBuffer.size();
}

void serverDrop(Stream* stream) {
    streamClose(stream);
}

bool serverFailed() {
    return server().streamFailed || server().panicked;
}

void serverTakeError(char* text) {
    GobServerState& state = server();
    // The recorded text is always terminated within its gobServerTextSize bytes.
    std::memcpy(text, state.serverErrorText, std::strlen(state.serverErrorText) + 1);
    state.serverErrorText[0] = '\0';
    state.streamFailed = false;
}

int serverClose() {
    GobServerState& state = server();
    state.sendScratch.reset();
    streamShutdown();
    state.clientStreams = {};
    state.positions = {};
    state.backlogged = 0;
    return state.streamFailed || state.panicked ? -1 : 0;
}
