// The stream layer: a small event-driven layer over non-blocking TCP sockets.
//
// A Stream wraps one socket. Its owner registers listeners for event types on it, and
// streamUpdate, called again and again by the owner's loop, waits for socket activity (or
// a wake-up, or the update timeout, whichever comes first) and turns it into events: a connection
// accepted, data received, the stream ready for more data, the stream closed, an error, the stream
// destroyed. Writes are buffered per stream and sent as the socket allows.
//
// Lifecycle of the layer: setPanicHandler, streamInit, then any number of newStream,
// streamListen, addListener, streamWrite, streamUpdate and streamClose, then
// streamShutdown. The cycle may run again after streamShutdown.
//
// Threads: single-threaded, with one exception. Every function here, and every listener
// call, runs on the one thread that owns the layer (the mux thread). The layer's
// process-wide state (the stream list, the readiness sets, the update timeout, the panic
// handler) has no lock; no other thread may touch it or any Stream. The exception is
// streamWake (and the two counters beside it), which any thread may call at any time.
//
// Ownership: the layer owns every Stream, from newStream (or the accept that created it)
// until it frees it right after the stream's Destroy event. A Stream pointer stays valid
// until that Destroy event has returned, and must not be used afterwards.
//
// Listeners run inside streamUpdate (and inside streamListen, streamClose and
// streamShutdown); they may call newStream, addListener, streamWrite and streamClose, but
// never streamUpdate or streamShutdown.
#pragma once

#include "net/socket.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <vector>

enum class StreamState : std::int32_t {
    Closed = 0,    // new, or closed: no socket
    Connected = 3, // an accepted client connection
    Listening = 4, // the listening socket
};

enum class StreamEventType : std::int32_t {
    Destroy = 1, // the stream is being freed
    Accept = 2,  // the listening stream accepted a connection; remote is the new stream
    Listen = 3,  // the stream started listening
    Close = 5,   // the stream was closed
    Ready = 6,   // a flush left the write buffer empty
    Data = 7,    // bytes were received
    Error = 9,   // an operation on the stream failed; the stream is closed next
    Rest = 10,   // the listening stream ran out of descriptors and rests (once an episode)
};

// Bits of Stream::flags.
struct StreamFlag {
    enum : std::uint32_t {
        Ready = 1,     // the write buffer has drained once; never cleared
        Written = 2,   // bytes were appended since the last flush
        Held = 4,      // input held by the owner: the socket is neither watched nor read
        Exhausted = 8, // a listening stream's accept ran out of descriptors; cleared by
                       // the next accept that succeeds
    };
};

struct Stream;

// What a listener receives; valid only during the call.
struct StreamEvent {
    StreamEventType type;
    void* userData = nullptr;           // the userData of the listener being called
    Stream* stream = nullptr;           // the stream the event is emitted on
    Stream* remote = nullptr;           // the new client stream, for Accept
    const char* message = nullptr;      // text describing the event
    const std::uint8_t* data = nullptr; // received bytes, for Data; followed by a zero byte
    std::int32_t size = 0;              // number of bytes in data
};

using StreamCallback = std::function<void(StreamEvent* event)>;

struct StreamListener {
    StreamEventType type;    // the event type this listener is called for
    StreamCallback callback; // called with the event
    void* userData;          // copied into the event before the call
};

struct Stream {
    StreamState state = StreamState::Closed;
    std::uint32_t flags = 0;                         // StreamFlag bits
    SocketHandle socket = noSocket;                  // noSocket when the stream has none
    std::vector<StreamListener> listeners;           // in the order added; never removed
    std::vector<std::uint8_t> writeBuffer;           // bytes not yet sent, oldest first
    std::unique_ptr<Stream> next;                    // the next (older) stream of the layer's list
    std::chrono::steady_clock::time_point restUntil; // a listening stream accepts no
                                                     // sooner (after exhaustion)
};

// The most one pass reads from one stream; the rest stays in the socket for the next
// pass, which then does not wait.
inline constexpr std::size_t streamReceiveBudget = std::size_t{64} * 1024;

// Registers the function that receives the text of a panic, before the process ends.
void setPanicHandler(std::function<void(const char* text)> handler);

// Starts the platform socket library (Winsock 2.2; a failure panics) and makes the
// wake-up channel. 0, or the platform's error number when the channel could not be made
// (for want of descriptors, say): the layer is then stopped again and streamInit may be
// tried later.
int streamInit();

// The Error text for `text` and the platform's `errorNumber`: "text (error text)", the
// text cut to 160 and the error text to 80 characters; `text` itself when errorNumber is 0.
std::string streamErrorText(const char* text, int errorNumber);

// An update timeout that never ends: streamUpdate waits until there is work.
inline constexpr double streamWaitForever = std::numeric_limits<double>::infinity();

// Sets the longest wait of one streamUpdate, in seconds (1.0 until set; streamWaitForever
// for no limit).
void setUpdateTimeout(double seconds);

// Sets how long a listening stream rests after its accept ran out of descriptors or
// buffers (0.1 s until set): its socket is not watched meanwhile, so that the loop does not
// spin on a connection it cannot take.
void setAcceptRest(double seconds);

// Holds or releases the input of a connected stream. While held, its socket is neither
// watched for reading nor read (so the peer's bytes wait in the socket); its output goes
// on. Hold inside a Data listener ends the current pass's reading of the stream.
void streamHoldInput(Stream* stream, bool hold);

// Any thread: makes the current wait of streamUpdate return at once, or, when no thread
// is waiting, the next one. Wake-ups made before the wait returns count as one. A wake-up
// while the layer is stopped takes effect in the first wait after the next streamInit.
void streamWake();

// Any thread, for tests and diagnostics: the number of streamUpdate passes, and of waits
// that ended because of streamWake, since the process started.
std::uint64_t streamPassCount();
std::uint64_t streamWakeCount();

// A new Closed stream without a socket, put at the head of the stream list.
Stream* newStream();

// Appends a listener for `type` to `stream`.
void addListener(Stream* stream, StreamEventType type, StreamCallback callback,
                 void* userData = nullptr);

// Appends `size` bytes to the stream's write buffer; they are sent during the current or
// the next streamUpdate.
void streamWrite(Stream* stream, const void* data, std::size_t size);

// Makes a new stream listen on `host`:`port` with `backlog` pending connections. Returns 0
// after a Listen event; on failure returns -1 after an Error event ("could not bind socket
// (...)" and the like) and a Close event, and the stream is destroyed by the next
// streamUpdate or by streamShutdown.
int streamListen(Stream* stream, const char* host, int port, int backlog);

// One pass of the event loop: destroys closed streams, waits for socket activity or a
// wake-up (at most the update timeout), then accepts, receives and flushes, emitting the
// events.
void streamUpdate();

// Closes `stream`: a Close event now, pending output dropped, and its Destroy event at the
// start of the next streamUpdate (or in streamShutdown). Nothing happens when the stream
// is already closed. Safe inside listeners, also on the stream being handled.
void streamClose(Stream* stream);

// Closes and destroys every stream, newest first (Close, then Destroy, on each), frees the
// readiness sets, closes the wake-up channel and stops the platform socket library.
void streamShutdown();

// Formats the text (at most 127 characters), hands it to the panic handler and ends the
// process with exit status 1.
[[noreturn]]
#if defined(__GNUC__)
__attribute__((format(printf, 1, 2)))
#endif
void streamPanic(const char* format, ...);
