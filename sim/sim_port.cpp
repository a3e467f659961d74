// The in-process serial port. See sim_port.h.
#include "sim/sim_port.h"

#include <algorithm>
#include <chrono>

namespace sim {

SimPort::SimPort(std::function<void()> wakeDevice) : wakeDevice_(std::move(wakeDevice)) {}

bool SimPort::present() const {
    const std::lock_guard lock(mutex_);
    return present_;
}

bool SimPort::open() {
    const std::lock_guard lock(mutex_);
    if (!present_) {
        return false;
    }
    open_ = true;
    broken_ = false;
    kicked_ = false;
    return true;
}

void SimPort::close() {
    const std::lock_guard lock(mutex_);
    open_ = false;
    broken_ = false;
    kicked_ = false;
    readable_.notify_all();
}

int SimPort::write(const uint8_t* bytes, size_t count) {
    {
        const std::lock_guard lock(mutex_);
        if (!open_ || broken_) {
            return -1;
        }
        fromHost_.insert(fromHost_.end(), bytes, bytes + count);
    }
    wakeDevice_();
    return 0;
}

int SimPort::read(uint8_t* buffer, size_t max, int timeoutMs) {
    std::unique_lock lock(mutex_);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto ready = [this] { return !open_ || broken_ || kicked_ || !toHost_.empty(); };
    readable_.wait_until(lock, deadline, ready);
    if (!open_ || broken_) {
        return -1;
    }
    if (kicked_) {
        kicked_ = false;
        return -2;
    }
    const size_t count = std::min(max, toHost_.size());
    std::copy_n(toHost_.begin(), count, buffer);
    toHost_.erase(toHost_.begin(), toHost_.begin() + static_cast<std::ptrdiff_t>(count));
    return static_cast<int>(count);
}

void SimPort::kick() {
    const std::lock_guard lock(mutex_);
    kicked_ = true;
    readable_.notify_all();
}

bool SimPort::toHost(std::span<const uint8_t> bytes) {
    const std::lock_guard lock(mutex_);
    if (toHost_.size() + bytes.size() > bufferLimit) {
        return false;
    }
    toHost_.insert(toHost_.end(), bytes.begin(), bytes.end());
    readable_.notify_all();
    return true;
}

bool SimPort::hostOpen() const {
    const std::lock_guard lock(mutex_);
    return open_ && !broken_;
}

void SimPort::setPresent(bool present) {
    const std::lock_guard lock(mutex_);
    present_ = present;
    if (!present && open_) {
        broken_ = true;
    }
    toHost_.clear();
    fromHost_.clear();
    readable_.notify_all();
}

Bytes SimPort::takeHostBytes() {
    const std::lock_guard lock(mutex_);
    Bytes out;
    out.swap(fromHost_);
    return out;
}

} // namespace sim
