// GobServer: listening, the client stream list with ready marks and frame parsers, the
// stream event handlers, framing for sending, and the recorded error state.
//
// Threads: the mux thread only (see gob_server.h); the state below has no lock.
#include "mux/gob_server.h"

#include "gob/gob_framing.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// One accepted stream. The ready mark and the parser live in the entry, so they move
// with their stream when a removed entry is replaced by the last one.
struct ClientEntry {
    Stream* stream = nullptr;
    bool ready = false; // the stream has reported Ready: serverSend may write
    GobFrameParser parser;
};

constexpr std::size_t initialClientRoom = 16;

struct GobServerState {
    GobServerHooks hooks;
    std::vector<ClientEntry> clientStreams;
    std::unique_ptr<GobFramer> sendScratch;
    char serverErrorText[gobServerTextSize] = {};
    bool streamFailed = false; // a stream reported an error
    bool panicked = false;     // the stream layer panicked
};

GobServerState& server() {
    static GobServerState state;
    return state;
}

void copyText(const char* text) {
    std::snprintf(server().serverErrorText, gobServerTextSize, "%s", text);
}

ClientEntry* findEntry(const Stream* stream) {
    auto& entries = server().clientStreams;
    const auto found = std::find_if(entries.begin(), entries.end(),
                                    [stream](const ClientEntry& e) { return e.stream == stream; });
    return found == entries.end() ? nullptr : &*found;
}

void onError(StreamEvent* event) {
    copyText(event->message != nullptr ? event->message : "");
    server().streamFailed = true;
}

void onDestroy(StreamEvent* event) {
    auto& entries = server().clientStreams;
    ClientEntry* entry = findEntry(event->stream);
    if (entry != nullptr) {
        if (entry != &entries.back()) {
            *entry = std::move(entries.back());
        }
        entries.pop_back();
    }
    const GobServerHooks& hooks = server().hooks;
    if (hooks.onRemove != nullptr) {
        hooks.onRemove(event->stream, hooks.context);
    }
}

void onData(StreamEvent* event) {
    Stream* stream = event->stream;
    ClientEntry* entry = findEntry(stream);
    if (entry == nullptr) {
        return;
    }
    // The hooks never add or remove entries (that happens only in Accept and Destroy),
    // so `entry` stays valid through the loop.
    entry->parser.feed(event->data, static_cast<std::size_t>(event->size));
    const GobServerHooks& hooks = server().hooks;
    while (stream->state == StreamState::Connected) {
        Gob gob;
        const GobFrameStatus status = entry->parser.next(gob);
        if (status == GobFrameStatus::NeedMore) {
            return;
        }
        if (status == GobFrameStatus::Malformed) {
            if (hooks.onBadFrame != nullptr) {
                hooks.onBadFrame(stream, hooks.context);
            }
            return;
        }
        if (hooks.onGob != nullptr) {
            hooks.onGob(stream, gob, hooks.context);
        }
    }
}

void onReady(StreamEvent* event) {
    ClientEntry* entry = findEntry(event->stream);
    if (entry != nullptr) {
        entry->ready = true;
    }
}

void onAccept(StreamEvent* event) {
    auto& entries = server().clientStreams;
    if (entries.size() == entries.capacity()) {
        entries.reserve(2 * entries.size() + 2);
    }
    entries.push_back(ClientEntry{event->remote, false, GobFrameParser{}});
    addListener(event->remote, StreamEventType::Destroy, onDestroy);
    addListener(event->remote, StreamEventType::Data, onData);
    addListener(event->remote, StreamEventType::Ready, onReady);
    addListener(event->remote, StreamEventType::Error, onError);
    const GobServerHooks& hooks = server().hooks;
    if (hooks.onAdd != nullptr) {
        hooks.onAdd(event->remote, hooks.context);
    }
}

void onPanic(const char* text) {
    copyText(text);
    server().panicked = true;
}

} // namespace

void serverSetHooks(const GobServerHooks& hooks) {
    server().hooks = hooks;
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
    return 0;
}

Stream* serverCreate(const ListenAddress& address) {
    Stream* listening = newStream();
    addListener(listening, StreamEventType::Accept, onAccept);
    addListener(listening, StreamEventType::Error, onError);
    addListener(listening, StreamEventType::Destroy, onDestroy);
    if (streamListen(listening, address.host.c_str(), address.port, gobServerBacklog) != 0) {
        return nullptr;
    }
    return listening;
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
    return state.streamFailed || state.panicked ? -1 : 0;
}
