// The fake service for the client and tool tests.
#include "fake_gob_server.h"

#include "gob/gob_framing.h"

#include <stdexcept>
#include <string>

namespace {

constexpr std::chrono::milliseconds idlePause{2};
constexpr std::chrono::milliseconds piecePause{30};
constexpr std::chrono::seconds sendLimit{5};

} // namespace

Bytes frameOf(const Gob& gob) {
    GobFramer framer;
    const std::span<const uint8_t> frame = framer.frame(gob);
    return {frame.begin(), frame.end()};
}

FakeGobServer::FakeGobServer(Bytes greeting) : greeting(std::move(greeting)) {
    if (socketCalls().startup() != 0) {
        throw std::runtime_error("socket startup failed");
    }
    const ListenResult result = socketCalls().listen("127.0.0.1", "0", 4);
    if (result.failure != ListenFailure::None) {
        throw std::runtime_error("fake server cannot listen: " + socketErrorText(result.error));
    }
    listener = result.socket;
    listenPort = static_cast<uint16_t>(socketLocalPort(listener));
    thread = std::thread([this] { run(); });
}

FakeGobServer::~FakeGobServer() {
    {
        const std::lock_guard guard(lock);
        stopping = true;
    }
    thread.join();
    socketCalls().close(listener);
    socketCalls().cleanup();
}

void FakeGobServer::setResponder(Responder newResponder) {
    const std::lock_guard guard(lock);
    responder = std::move(newResponder);
}

void FakeGobServer::send(const Bytes& bytes) {
    const std::lock_guard guard(lock);
    outgoing.push_back({bytes, false});
}

void FakeGobServer::sendPieces(const std::vector<Bytes>& pieces) {
    const std::lock_guard guard(lock);
    for (const Bytes& piece : pieces) {
        outgoing.push_back({piece, false});
    }
}

void FakeGobServer::closeClient() {
    const std::lock_guard guard(lock);
    outgoing.push_back({{}, true});
}

bool FakeGobServer::waitRequests(size_t count, std::chrono::milliseconds timeout) {
    std::unique_lock guard(lock);
    return changed.wait_for(guard, timeout, [&] { return received.size() >= count; });
}

std::vector<Gob> FakeGobServer::requests() {
    const std::lock_guard guard(lock);
    return received;
}

Bytes FakeGobServer::receivedBytes() {
    const std::lock_guard guard(lock);
    return receivedRaw;
}

bool FakeGobServer::waitClosed(std::chrono::milliseconds timeout) {
    std::unique_lock guard(lock);
    return changed.wait_for(guard, timeout, [&] { return closedClients > 0; });
}

void FakeGobServer::run() {
    for (;;) {
        {
            const std::lock_guard guard(lock);
            if (stopping) {
                return;
            }
        }
        const SocketResult accepted = socketCalls().accept(listener);
        if (accepted.status == SocketStatus::Done) {
            serveClient(static_cast<SocketHandle>(accepted.value));
        } else {
            std::this_thread::sleep_for(idlePause);
        }
    }
}

void FakeGobServer::serveClient(SocketHandle client) {
    GobFrameParser parser;
    bool open = sendTo(client, greeting);
    while (open) {
        std::vector<Bytes> answers;
        open = receiveFrom(client, parser, answers);
        for (const Bytes& answer : answers) {
            open = open && !answer.empty() && sendTo(client, answer);
        }
        Outgoing next;
        bool haveNext = false;
        {
            const std::lock_guard guard(lock);
            if (stopping) {
                break;
            }
            if (!outgoing.empty()) {
                next = std::move(outgoing.front());
                outgoing.pop_front();
                haveNext = true;
            }
        }
        if (haveNext && next.closeAfter) {
            break;
        }
        if (haveNext) {
            open = open && sendTo(client, next.bytes);
            std::this_thread::sleep_for(piecePause);
        } else {
            std::this_thread::sleep_for(idlePause);
        }
    }
    socketCalls().close(client);
    const std::lock_guard guard(lock);
    ++closedClients;
    changed.notify_all();
}

bool FakeGobServer::receiveFrom(SocketHandle client, GobFrameParser& parser,
                                std::vector<Bytes>& answers) {
    char buffer[4096];
    const SocketResult result = socketCalls().receive(client, buffer, sizeof buffer);
    if (result.status == SocketStatus::WouldBlock) {
        return true;
    }
    if (result.status == SocketStatus::Failed || result.value <= 0) {
        return false;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(buffer);
    parser.feed(bytes, static_cast<size_t>(result.value));
    const std::lock_guard guard(lock);
    receivedRaw.insert(receivedRaw.end(), bytes, bytes + result.value);
    Gob gob;
    while (parser.next(gob) == GobFrameStatus::Gob) {
        received.push_back(gob);
        if (responder) {
            for (Bytes& answer : responder(gob)) {
                answers.push_back(std::move(answer));
            }
        }
    }
    changed.notify_all();
    return true;
}

bool FakeGobServer::sendTo(SocketHandle client, const Bytes& bytes) {
    size_t sent = 0;
    const auto deadline = std::chrono::steady_clock::now() + sendLimit;
    while (sent < bytes.size() && std::chrono::steady_clock::now() < deadline) {
        const SocketResult result = socketCalls().send(
            client, reinterpret_cast<const char*>(bytes.data() + sent), bytes.size() - sent);
        if (result.status == SocketStatus::Failed) {
            return false;
        }
        if (result.status == SocketStatus::Done) {
            sent += static_cast<size_t>(result.value);
        } else {
            std::this_thread::sleep_for(idlePause);
        }
    }
    return sent == bytes.size();
}
