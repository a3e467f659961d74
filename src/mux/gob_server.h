// GobServer: the thin layer between the stream layer and the Mux. It listens, keeps the
// accepted client streams with their ready marks and frame parsers, cuts received bytes
// into gobs, frames gobs for sending, and records stream errors and panics.
//
// It also bounds what clients cost:
// - at most gobServerClientLimit clients (fewer when the descriptor limit leaves less
//   room than gobServerDescriptorReserve below it, so that clients never take the
//   descriptors the dongle's port needs): a connection beyond is closed at accept, with
//   one log line per episode ("mux: client limit of N reached, closing new connections");
// - a listening stream out of descriptors rests (stream layer) with one log line per
//   episode ("mux: accept ran out of descriptors (...), pausing new connections");
// - fairness: at most gobServerPassGobs gobs are dispatched from one stream per work step
//   (the stream layer reads at most streamReceiveBudget bytes a pass); the stream's input
//   is then held and the complete gobs it still holds are dispatched by the next steps'
//   serverPass, in order, before anything more is read from it;
// - a frame that has begun must be complete within gobServerFrameSeconds, or onStalled is
//   called (the Mux drops the client); the clock starts with the Data event that brought
//   the frame's first byte or completed the gob before it.
// Entries are found by stream in constant time.
//
// Its state is process-wide, like the stream layer's. Cycle: serverSetHooks, serverInit,
// serverCreate, any number of serverSend / serverDrop / serverPass / stream updates,
// serverClose.
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
    // A frame the client began was not complete within its time. Without this hook the
    // stream is closed.
    void (*onStalled)(Stream* stream, void* context) = nullptr;
    void (*onAdd)(Stream* stream, void* context) = nullptr;
    void (*onRemove)(Stream* stream, void* context) = nullptr;
    void* context = nullptr;
};

// The host and backlog on which the service listens, on port gobDefaultPort: by default
// every IPv4 interface.
constexpr const char* gobServerHost = "0.0.0.0";
constexpr int gobServerBacklog = 511;
// Room for an error text and its terminating zero.
constexpr std::size_t gobServerTextSize = 256;
// The most clients served at once.
constexpr std::size_t gobServerClientLimit = 4096;
// Descriptors below the process's limit that clients never take: the dongle's port, the
// log and the service's own handles.
constexpr int gobServerDescriptorReserve = 32;
// The most gobs dispatched from one stream in one work step.
constexpr int gobServerPassGobs = 64;
// The time within which a begun frame must be complete.
constexpr double gobServerFrameSeconds = 10.0;

// Tests: another client limit and frame time, from the next serverInit on.
void serverSetLimits(std::size_t clientLimit, double frameSeconds);

// Installs the hooks; empty hooks are not called.
void serverSetHooks(const GobServerHooks& hooks);

// Allocates the send scratch, installs the panic hook, clears the error state, starts the
// stream layer, empties the client list and sets the client limit (logging it when the
// descriptor limit lowers it: "mux: at most N clients (descriptor limit D)"). Returns 0; or -1 with
// the reason in `text` (gobServerTextSize bytes) when the stream layer could not start, which
// leaves nothing to close.
int serverInit(char* text);

// A new stream listening on `address`, or null when listening failed (the stream has
// reported an Error, which is recorded, and is closed).
Stream* serverCreate(const ListenAddress& address);

// The work step's share (mux thread, outside the stream layer's update): dispatches the
// gobs held back by the fairness bound and drops the clients whose begun frame is late.
void serverPass();

// How long the next update may wait (for setUpdateTimeout): 0 while gobs are held back,
// else until the earliest frame deadline, else streamWaitForever.
double serverWaitLimit();

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
