// The client session: requests out, events in, and the waits.
#include "linkrelay/client.h"

#include "gob/gob_requests.h"
#include "linkrelay/address_text.h"

#include <array>
#include <stdexcept>

namespace linkrelay {

namespace {

constexpr size_t receiveChunk = 4096;

ClientError connectError(ClientConnectOutcome outcome, const std::string& endpoint,
                         const std::string& detail) {
    switch (outcome) {
    case ClientConnectOutcome::Refused:
        return {ClientErrorKind::Refused, "connection to " + endpoint + " refused"};
    case ClientConnectOutcome::TimedOut:
        return {ClientErrorKind::Timeout, "connection to " + endpoint + " timed out"};
    default:
        return {ClientErrorKind::ConnectFailed, "could not connect to " + endpoint + ": " + detail};
    }
}

ClientError closedError(const std::string& endpoint) {
    return {ClientErrorKind::Closed, "the service at " + endpoint + " closed the connection"};
}

std::string millisecondsText(std::chrono::milliseconds timeout) {
    return std::to_string(timeout.count()) + " ms";
}

template <class T> std::vector<T> typedAll(const std::vector<Event>& events) {
    std::vector<T> typed;
    typed.reserve(events.size());
    for (const Event& event : events) {
        typed.push_back(std::get<T>(event));
    }
    return typed;
}

} // namespace

Client::~Client() {
    close();
}

void Client::open(const std::string& host, uint16_t port, std::chrono::milliseconds timeout) {
    close();
    const std::string endpoint = host + ":" + std::to_string(port);
    const ClientConnectResult result = clientSocketConnect(host, std::to_string(port), timeout);
    if (result.outcome != ClientConnectOutcome::Connected) {
        throw connectError(result.outcome, endpoint, result.detail);
    }
    socket = result.socket;
    endpointText = endpoint;
    parser = GobFrameParser();
    kept.clear();
    peerClosed = false;
}

void Client::close() {
    if (socket == noClientSocket) {
        return;
    }
    clientSocketClose(socket);
    socket = noClientSocket;
    kept.clear();
}

void Client::send(const Gob& gob) {
    if (socket == noClientSocket) {
        throw ClientError(ClientErrorKind::NotOpen, "no session with the service is open");
    }
    const std::span<const uint8_t> frame = framer.frame(gob);
    const ClientIoResult result = clientSocketSendAll(socket, frame.data(), frame.size());
    if (result.outcome == ClientIoOutcome::Closed) {
        throw closedError(endpointText);
    }
    if (result.outcome != ClientIoOutcome::Done) {
        throw ClientError(ClientErrorKind::Closed,
                          "sending to " + endpointText + " failed: " + result.detail);
    }
}

void Client::startScan() {
    Gob gob;
    codeGobStartScan(gob);
    send(gob);
}

void Client::stopScan() {
    Gob gob;
    codeGobStopScan(gob);
    send(gob);
}

void Client::connect(const BleAddress& address, const ConnectionParameters& parameters) {
    Gob gob;
    BleAddress wireAddress = address;
    ConnectionParameters values = parameters;
    codeGobConnect(gob, wireAddress, values.connIntervalMin, values.connIntervalMax,
                   values.supervisionTimeout, values.slaveLatency);
    send(gob);
}

void Client::findServices(const BleAddress& address) {
    Gob gob;
    BleAddress wireAddress = address;
    codeGobFindServices(gob, wireAddress);
    send(gob);
}

void Client::findAttributes(const BleAddress& address, const std::vector<UuidRecord>& uuids) {
    Gob gob;
    BleAddress wireAddress = address;
    std::vector<UuidRecord> records = uuids;
    if (codeGobFindAttributes(gob, wireAddress, records) != 0) {
        throw std::invalid_argument("findAttributes needs one or more UUIDs of 2 or 16 bytes");
    }
    send(gob);
}

void Client::disconnect(const BleAddress& address) {
    Gob gob;
    BleAddress wireAddress = address;
    codeGobDisconnect(gob, wireAddress);
    send(gob);
}

void Client::read(const BleAddress& address, uint8_t index) {
    Gob gob;
    BleAddress wireAddress = address;
    codeGobRead(gob, wireAddress, index);
    send(gob);
}

void Client::write(const BleAddress& address, uint8_t index, std::span<const uint8_t> payload,
                   bool withResponse) {
    Gob gob;
    BleAddress wireAddress = address;
    const uint8_t* bytes = payload.data();
    auto length = static_cast<uint32_t>(payload.size());
    codeGobWrite(gob, wireAddress, index, withResponse, bytes, length);
    send(gob);
}

void Client::notify(const BleAddress& address, uint8_t index) {
    Gob gob;
    BleAddress wireAddress = address;
    codeGobNotify(gob, wireAddress, index);
    send(gob);
}

void Client::indicate(const BleAddress& address, uint8_t index) {
    Gob gob;
    BleAddress wireAddress = address;
    codeGobIndicate(gob, wireAddress, index);
    send(gob);
}

void Client::unsubscribe(const BleAddress& address, uint8_t index) {
    Gob gob;
    BleAddress wireAddress = address;
    codeGobUnsubscribe(gob, wireAddress, index);
    send(gob);
}

void Client::getRssi(const BleAddress& address) {
    Gob gob;
    BleAddress wireAddress = address;
    codeGobGetRssi(gob, wireAddress);
    send(gob);
}

std::optional<Event> Client::receive(Clock::time_point deadline) {
    if (socket == noClientSocket) {
        throw ClientError(ClientErrorKind::NotOpen, "no session with the service is open");
    }
    std::array<uint8_t, receiveChunk> chunk{};
    for (;;) {
        Gob gob;
        const GobFrameStatus status = parser.next(gob);
        if (status == GobFrameStatus::Malformed) {
            throw ClientError(ClientErrorKind::Malformed,
                              "the service at " + endpointText + " sent a malformed frame");
        }
        if (status == GobFrameStatus::Gob) {
            std::optional<Event> event = decodeEvent(gob);
            if (!event) {
                throw ClientError(ClientErrorKind::Malformed,
                                  "the service at " + endpointText + " sent a malformed event" +
                                      (gob.size() > 0
                                           ? " of type " + std::to_string(gob.storage()[0])
                                           : std::string()));
            }
            return event;
        }
        if (peerClosed) {
            throw closedError(endpointText);
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() < 0) {
            return std::nullopt;
        }
        const ClientIoResult result = clientSocketReceive(socket, chunk.data(), chunk.size(), left);
        if (result.outcome == ClientIoOutcome::Done) {
            parser.feed(chunk.data(), result.count);
        } else if (result.outcome == ClientIoOutcome::Closed) {
            peerClosed = true;
        } else if (result.outcome == ClientIoOutcome::Failed) {
            throw ClientError(ClientErrorKind::Closed,
                              "receiving from " + endpointText + " failed: " + result.detail);
        }
    }
}

std::optional<Event> Client::takeKept(const EventMatcher& matcher) {
    for (auto it = kept.begin(); it != kept.end(); ++it) {
        if (matcher(*it)) {
            Event event = std::move(*it);
            kept.erase(it);
            return event;
        }
    }
    return std::nullopt;
}

void Client::keep(Event event) {
    if (kept.size() >= maxKeptEvents) {
        kept.pop_front();
        ++dropped;
    }
    kept.push_back(std::move(event));
}

std::optional<Event> Client::nextEvent(std::chrono::milliseconds timeout) {
    if (!kept.empty()) {
        Event event = std::move(kept.front());
        kept.pop_front();
        return event;
    }
    return receive(Clock::now() + timeout);
}

Event Client::waitFor(const EventMatcher& matcher, std::chrono::milliseconds timeout,
                      std::string_view awaited) {
    if (std::optional<Event> event = takeKept(matcher)) {
        return std::move(*event);
    }
    const Clock::time_point deadline = Clock::now() + timeout;
    // A steady flow of other events must not hold the wait past its deadline.
    while (std::optional<Event> event = receive(deadline)) {
        if (matcher(*event)) {
            return std::move(*event);
        }
        keep(std::move(*event));
        if (Clock::now() >= deadline) {
            break;
        }
    }
    throw ClientError(ClientErrorKind::Timeout,
                      "no " + std::string(awaited) + " within " + millisecondsText(timeout));
}

std::vector<Event> Client::waitBatch(const EventMatcher& matcher, std::chrono::milliseconds timeout,
                                     std::chrono::milliseconds settle, std::string_view awaited) {
    std::vector<Event> batch{waitFor(matcher, timeout, awaited)};
    for (;;) {
        try {
            batch.push_back(waitFor(matcher, settle, awaited));
        } catch (const ClientError& error) {
            // A session that ends after the batch reports that on the next call.
            if (error.kind() != ClientErrorKind::Timeout &&
                error.kind() != ClientErrorKind::Closed) {
                throw;
            }
            return batch;
        }
    }
}

StatusEvent Client::waitStatus(std::chrono::milliseconds timeout) {
    return std::get<StatusEvent>(waitFor(matchStatus(), timeout, "status"));
}

ConnectedEvent Client::waitConnected(const BleAddress& address, std::chrono::milliseconds timeout) {
    return std::get<ConnectedEvent>(
        waitFor(matchConnected(address), timeout, "connection to " + formatAddress(address)));
}

std::vector<ServiceFoundEvent> Client::waitServices(const BleAddress& address,
                                                    std::chrono::milliseconds timeout) {
    return typedAll<ServiceFoundEvent>(waitBatch(matchServiceFound(address), timeout, defaultSettle,
                                                 "services of " + formatAddress(address)));
}

std::vector<CharacteristicFoundEvent>
Client::waitCharacteristics(const BleAddress& address, std::chrono::milliseconds timeout) {
    return typedAll<CharacteristicFoundEvent>(
        waitBatch(matchCharacteristicFound(address), timeout, defaultSettle,
                  "characteristics of " + formatAddress(address)));
}

AttributeValueEvent Client::waitValue(const BleAddress& address, uint8_t index,
                                      std::chrono::milliseconds timeout) {
    return std::get<AttributeValueEvent>(waitFor(
        matchValue(address, index), timeout,
        "value of characteristic " + std::to_string(index) + " of " + formatAddress(address)));
}

WriteDoneEvent Client::waitWriteDone(const BleAddress& address, std::chrono::milliseconds timeout) {
    return std::get<WriteDoneEvent>(
        waitFor(matchWriteDone(address), timeout, "write done for " + formatAddress(address)));
}

RssiEvent Client::waitRssi(const BleAddress& address, std::chrono::milliseconds timeout) {
    return std::get<RssiEvent>(
        waitFor(matchRssi(address), timeout, "RSSI of " + formatAddress(address)));
}

DisconnectedEvent Client::waitDisconnected(const BleAddress& address,
                                           std::chrono::milliseconds timeout) {
    return std::get<DisconnectedEvent>(
        waitFor(matchDisconnected(address), timeout, "disconnection of " + formatAddress(address)));
}

} // namespace linkrelay
