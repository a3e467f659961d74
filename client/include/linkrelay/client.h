// A client of the service: one TCP session over which requests go out and events come in.
//
// Each request is one call that sends one gob and returns at once; the service answers
// later with events (or, when it refuses a request, by ending the session). Events are
// taken with nextEvent, or with a wait that picks out the event answering a request and
// keeps every other event, in arrival order, for nextEvent. Failures throw ClientError.
//
// Threads: a Client may be used by two threads at once, one calling the requests and one
// calling nextEvent and the waits; the sending side (socket, framer) and the receiving
// side (parser, kept events) share nothing but the socket, which open and close alone
// change. open and close must not overlap any other call.
#pragma once

#include "gob/gob_framing.h"
#include "linkrelay/client_error.h"
#include "linkrelay/client_events.h"
#include "linkrelay/client_socket.h"
#include "linkrelay/event_match.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace linkrelay {

// The values of a connect request, in the dongle's units.
struct ConnectionParameters {
    uint32_t connIntervalMin = 24;     // 1.25 ms units: 30 ms
    uint32_t connIntervalMax = 40;     // 1.25 ms units: 50 ms
    uint32_t supervisionTimeout = 200; // 10 ms units: 2 s
    uint32_t slaveLatency = 0;         // connection events
};

class Client {
public:
    static constexpr const char* defaultHost = "127.0.0.1";
    static constexpr uint16_t defaultPort = 9089;
    static constexpr std::chrono::milliseconds defaultConnectTimeout{5000};
    // How long waitBatch waits for one more event after the last one it took.
    static constexpr std::chrono::milliseconds defaultSettle{250};
    // Events beyond this many kept for nextEvent push out the oldest.
    static constexpr size_t maxKeptEvents = 65536;

    Client() = default;
    ~Client();
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // Opens the TCP session. Throws Refused, ConnectFailed or Timeout.
    void open(const std::string& host = defaultHost, uint16_t port = defaultPort,
              std::chrono::milliseconds timeout = defaultConnectTimeout);
    // Ends the session; kept events are dropped. Nothing happens when none is open.
    void close();
    bool isOpen() const { return socket != noClientSocket; }
    // "host:port" of the session, for messages.
    const std::string& endpoint() const { return endpointText; }

    // The requests. Each throws NotOpen without a session, and Closed when the service
    // has ended it.
    void startScan();
    void stopScan();
    void connect(const BleAddress& address, const ConnectionParameters& parameters = {});
    void findServices(const BleAddress& address);
    // Looks up the characteristics with these UUIDs. Throws std::invalid_argument for an
    // empty list or a record whose length is neither 2 nor 16.
    void findAttributes(const BleAddress& address, const std::vector<UuidRecord>& uuids);
    void disconnect(const BleAddress& address);
    void read(const BleAddress& address, uint8_t index);
    void write(const BleAddress& address, uint8_t index, std::span<const uint8_t> payload,
               bool withResponse);
    void notify(const BleAddress& address, uint8_t index);
    void indicate(const BleAddress& address, uint8_t index);
    void unsubscribe(const BleAddress& address, uint8_t index);
    void getRssi(const BleAddress& address);

    // The oldest kept event, else the next to arrive within `timeout`; nothing when none
    // arrives. Throws Closed once the service has ended the session and every event
    // received before that has been taken, and Malformed for bytes that are not an event
    // (a frame that does not decode is skipped; after a broken frame prefix every later
    // call throws, as nothing after it can be trusted).
    std::optional<Event> nextEvent(std::chrono::milliseconds timeout);

    // The first event (kept or new) that `matcher` accepts; every other event is kept.
    // Throws Timeout when none comes within `timeout`, naming `awaited` in the text.
    Event waitFor(const EventMatcher& matcher, std::chrono::milliseconds timeout,
                  std::string_view awaited = "the awaited event");
    // Like waitFor for the first event, then every further accepted event that follows
    // within `settle` of the one before: the events of one answer sent together, such as
    // the services of one discovery.
    std::vector<Event> waitBatch(const EventMatcher& matcher, std::chrono::milliseconds timeout,
                                 std::chrono::milliseconds settle = defaultSettle,
                                 std::string_view awaited = "the awaited events");

    // Waits for the answers of the requests above.
    StatusEvent waitStatus(std::chrono::milliseconds timeout);
    ConnectedEvent waitConnected(const BleAddress& address, std::chrono::milliseconds timeout);
    std::vector<ServiceFoundEvent> waitServices(const BleAddress& address,
                                                std::chrono::milliseconds timeout);
    std::vector<CharacteristicFoundEvent> waitCharacteristics(const BleAddress& address,
                                                              std::chrono::milliseconds timeout);
    AttributeValueEvent waitValue(const BleAddress& address, uint8_t index,
                                  std::chrono::milliseconds timeout);
    WriteDoneEvent waitWriteDone(const BleAddress& address, std::chrono::milliseconds timeout);
    RssiEvent waitRssi(const BleAddress& address, std::chrono::milliseconds timeout);
    DisconnectedEvent waitDisconnected(const BleAddress& address,
                                       std::chrono::milliseconds timeout);

    // How many kept events were pushed out because nobody took them.
    uint64_t droppedEvents() const { return dropped; }

private:
    using Clock = std::chrono::steady_clock;

    void send(const Gob& gob);
    // The next event from the socket, or nothing when `deadline` passes first.
    std::optional<Event> receive(Clock::time_point deadline);
    std::optional<Event> takeKept(const EventMatcher& matcher);
    void keep(Event event);

    ClientSocketHandle socket = noClientSocket;
    std::string endpointText;
    // Sending side.
    GobFramer framer;
    // Receiving side.
    GobFrameParser parser;
    std::deque<Event> kept;
    bool peerClosed = false;
    uint64_t dropped = 0;
};

} // namespace linkrelay
