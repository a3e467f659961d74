// The simulated dongle behind a pseudo-terminal. See pty_driver.h.
#include "sim/pty_driver.h"

#include "sim/sim_control.h"

#include <cstdio>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace sim {

PtyDriver::PtyDriver(SimConfig config, std::vector<PeripheralSpec> peripherals,
                     std::string linkPath)
    : start_(std::chrono::steady_clock::now()), pty_(std::move(linkPath)),
      wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), tasks_([this] { wake(); }),
      device_(config, std::move(peripherals), *this) {}

PtyDriver::~PtyDriver() {
    stop_ = true;
    wake();
    if (thread_.joinable()) {
        thread_.join();
    }
    ::close(wakeFd_);
}

bool PtyDriver::start(std::string& error) {
    if (wakeFd_ < 0) {
        error = "eventfd failed";
        return false;
    }
    device_.start(elapsed());
    if (!pty_.attached()) {
        error = attachError_;
        return false;
    }
    thread_ = std::thread([this] { run(); });
    return true;
}

std::string PtyDriver::control(std::string_view line) {
    return call([text = std::string(line)](SimDevice& device, SimTime now) {
        return runControlCommand(device, text, now);
    });
}

std::string PtyDriver::slavePath() {
    return call([this](SimDevice&, SimTime) { return pty_.slavePath(); });
}

bool PtyDriver::toHost(std::span<const uint8_t> bytes) {
    constexpr size_t outgoingLimit = 64 * 1024;
    if (!pty_.attached()) {
        return true; // off the bus: nobody to send to
    }
    if (outgoing.size() + bytes.size() > outgoingLimit) {
        return false;
    }
    outgoing.insert(outgoing.end(), bytes.begin(), bytes.end());
    flush();
    return true;
}

void PtyDriver::flush() {
    const size_t written = pty_.write(outgoing);
    outgoing.erase(outgoing.begin(), outgoing.begin() + static_cast<std::ptrdiff_t>(written));
}

bool PtyDriver::hostOpen() const {
    return false; // asked as the dongle comes back, on a pty made a moment ago
}

void PtyDriver::setPresent(bool present) {
    outgoing.clear();
    if (!present) {
        pty_.detach();
        return;
    }
    if (!pty_.attach(attachError_)) {
        std::fprintf(stderr, "linkrelay-sim: %s\n", attachError_.c_str());
    }
}

void PtyDriver::wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

SimTime PtyDriver::elapsed() const {
    return std::chrono::duration_cast<SimTime>(std::chrono::steady_clock::now() - start_);
}

int PtyDriver::pollTimeout() const {
    const auto due = device_.nextDue();
    if (!due) {
        return -1;
    }
    const auto left = *due - elapsed();
    return left.count() <= 0 ? 0 : static_cast<int>(left.count());
}

void PtyDriver::run() {
    Bytes buffer(4096);
    while (!stop_) {
        // Wedged: the host's bytes are left unread, so its writes back up.
        const short readEvents = device_.wedged() ? 0 : POLLIN;
        const short masterEvents = outgoing.empty() ? readEvents : readEvents | POLLOUT;
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {pty_.masterFd(), masterEvents, 0}};
        const nfds_t count = pty_.attached() ? 2 : 1;
        ::poll(fds, count, pollTimeout());
        if (stop_) {
            return;
        }
        uint64_t wakes = 0;
        [[maybe_unused]] const ssize_t drained = ::read(wakeFd_, &wakes, sizeof wakes);
        const SimTime now = elapsed();
        if (count == 2 && (fds[1].revents & POLLOUT) != 0) {
            flush();
        }
        if (count == 2 && (fds[1].revents & POLLIN) != 0) {
            const long got = pty_.read(buffer.data(), buffer.size());
            if (got > 0) {
                device_.receive(std::span(buffer.data(), static_cast<size_t>(got)), now);
            }
        }
        for (auto& task : tasks_.take()) {
            task(device_, now);
        }
        device_.advance(now);
    }
}

} // namespace sim
