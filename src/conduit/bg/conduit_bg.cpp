// ConduitBg: construction, the state word, event posting, the test seams and the
// look-ups of connections and sessions (which never insert).
#include "conduit/bg/conduit_bg.h"

#include "gob/gob_events.h"
#include "log/log.h"
#include "mux/mux.h"

#include <chrono>
#include <thread>

ConduitBg* activeConduit = nullptr;

namespace {

constexpr int32_t dongleConduitKind = 1;

} // namespace

ConduitBg::ConduitBg(Mux* mux, SerialPortSource& ports) : Conduit(mux), ports(ports) {}

ConduitBg::~ConduitBg() {
    if (activeConduit == this) {
        activeConduit = nullptr;
    }
}

int32_t ConduitBg::getType() {
    return dongleConduitKind;
}

int32_t ConduitBg::getState() {
    return state.load();
}

void ConduitBg::setState(int32_t value) {
    state.exchange(value);
    emit(buildStatusGob, getType(), value);
}

void ConduitBg::post(const Gob& gob) {
    mux->postEvent(gob);
}

int64_t ConduitBg::clockSeconds() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::seconds>(now).count();
}

void ConduitBg::sleepMs(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool ConduitBg::isReadyFor(const char* operation) const {
    if (ready.load()) {
        return true;
    }
    logPrint(1, "BG conduit: %s called but not ready\n", operation);
    return false;
}

std::optional<int32_t> ConduitBg::findConnection(const BleAddress& address) const {
    const auto found = connections.find(address);
    if (found == connections.end()) {
        return std::nullopt;
    }
    return found->second;
}

BgSession* ConduitBg::findSession(int32_t connection) {
    const auto found = sessions.find(connection);
    return found == sessions.end() ? nullptr : &found->second;
}
