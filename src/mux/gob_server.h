// GobServer: the thin layer between the stream layer and the Mux. It listens, keeps the
// accepted client streams with their ready marks and frame parsers, cuts received bytes
// into gobs, frames gobs for sending, and records stream errors and panics.
//
// Its state is process-wide, like the stream layer's. Cycle: serverSetHooks, serverInit,
// serverCreate, any number of serverSend / serverDrop / stream updates, serverClose.
//
// Threads: the mux thread only, like the stream layer; nothing here locks. The hooks run
// on the mux thread, inside the stream layer's update (or its shutdown in serverClose).
#pragma once

#include "gob/gob.h"
#include "net/listen_address.h"
#include "net/stream.h"

#include <cstddef>
#include <cstdint>

// The Mux's entries, called with the context given in the hooks.
struct GobServerHooks {
    void (*onGob)(Stream* stream, Gob& gob, void* context) = nullptr;
    // The client sent bytes that cannot begin a gob: an empty frame, a bad prefix, or a
    // frame above the receivable length. Nothing more is read from that stream.
    void (*onBadFrame)(Stream* stream, void* context) = nullptr;
    void (*onAdd)(Stream* stream, void* context) = nullptr;
    void (*onRemove)(Stream* stream, void* context) = nullptr;
    void* context = nullptr;
};

// The TCP port and backlog on which the service listens; by default on every IPv4
// interface.
constexpr int gobServerPort = 9089;
constexpr const char* gobServerHost = "0.0.0.0";
constexpr int gobServerBacklog = 511;
// Room for an error text and its terminating zero.
constexpr std::size_t gobServerTextSize = 256;

// Installs the hooks; empty hooks are not called.
void serverSetHooks(const GobServerHooks& hooks);

// Allocates the send scratch, installs the panic hook, clears the error state, starts the
// stream layer and empties the client list. Returns 0; or -1 with the reason in `text`
// (gobServerTextSize bytes) when the stream layer could not start, which leaves nothing
// to close.
int serverInit(char* text);

// A new stream listening on `address`, or null when listening failed (the stream has
// reported an Error, which is recorded, and is closed).
Stream* serverCreate(const ListenAddress& address);

// Frames `gob` and appends it to the stream's write buffer: 0. When the stream has not
// reported Ready yet (or is not a client stream) nothing is written: 1.
int serverSend(const Gob& gob, Stream* stream);

// Bytes appended to the stream's write buffer and not yet sent.
std::size_t serverUnsent(const Stream* stream);

// Closes one client stream now; its Destroy (and onRemove) follows in the next update.
void serverDrop(Stream* stream);

// True when a stream error or a panic has been recorded and not taken yet.
bool serverFailed();

// Copies the recorded error text into `text` (gobServerTextSize bytes) and clears the
// text and the stream error mark.
void serverTakeError(char* text);

// Frees the send scratch, shuts the stream layer down (each stream's Destroy reaches
// onRemove) and empties the client list. Returns 0, or -1 when a stream error or a
// panic was recorded.
int serverClose();
