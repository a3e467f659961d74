// The in-process serial port. See sim_port.h.
#include "sim/sim_port.h"

#include <algorithm>
#include <chrono>

namespace sim {

SimPort::SimPort(std::function<void()> wakeDevice) : deviceWaker(std::move(wakeDevice)) {}

bool SimPort::present() const {
    const std::lock_guard lock(mutex);
    return isPresent;
}

bool SimPort::open() {
    const std::lock_guard lock(mutex);
    if (!isPresent) {
        return false;
    }
    isOpen = true;
    broken = false;
    kicked = false;
    return true;
}

void SimPort::close() {
    const std::lock_guard lock(mutex);
    isOpen = false;
    broken = false;
    kicked = false;
    readableCondition.notify_all();
}

int SimPort::write(const uint8_t* bytes, size_t count) {
    {
        const std::lock_guard lock(mutex);
        if (!isOpen || broken) {
            return -1;
        }
        fromHostBytes.insert(fromHostBytes.end(), bytes, bytes + count);
    }
    deviceWaker();
    return 0;
}

int SimPort::read(uint8_t* buffer, size_t max, int timeoutMs) {
    std::unique_lock lock(mutex);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto ready = [this] { return !isOpen || broken || kicked || !toHostBytes.empty(); };
    readableCondition.wait_until(lock, deadline, ready);
    if (!isOpen || broken) {
        return -1;
    }
    if (kicked) {
        kicked = false;
        return -2;
    }
    const size_t count = std::min(max, toHostBytes.size());
    std::copy_n(toHostBytes.begin(), count, buffer);
    toHostBytes.erase(toHostBytes.begin(),
                      toHostBytes.begin() + static_cast<std::ptrdiff_t>(count));
    return static_cast<int>(count);
}

void SimPort::kick() {
    const std::lock_guard lock(mutex);
    kicked = true;
    readableCondition.notify_all();
}

bool SimPort::toHost(std::span<const uint8_t> bytes) {
    const std::lock_guard lock(mutex);
    if (toHostBytes.size() + bytes.size() > bufferLimit) {
        return false;
    }
    toHostBytes.insert(toHostBytes.end(), bytes.begin(), bytes.end());
    readableCondition.notify_all();
    return true;
}

bool SimPort::hostOpen() const {
    const std::lock_guard lock(mutex);
    return isOpen && !broken;
}

void SimPort::setPresent(bool present) {
    const std::lock_guard lock(mutex);
    isPresent = present;
    if (!present && isOpen) {
        broken = true;
    }
    toHostBytes.clear();
    fromHostBytes.clear();
    readableCondition.notify_all();
}

Bytes SimPort::takeHostBytes() {
    const std::lock_guard lock(mutex);
    Bytes out;
    out.swap(fromHostBytes);
    return out;
}

} // namespace sim
