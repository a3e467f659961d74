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
    : startTime(std::chrono::steady_clock::now()), ptyPair(std::move(linkPath)),
      wakeFd(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), taskQueue([this] { wake(); }),
      simDevice(config, std::move(peripherals), *this) {}

PtyDriver::~PtyDriver() {
    stopRequested = true;
    wake();
    if (workerThread.joinable()) {
        workerThread.join();
    }
    ::close(wakeFd);
}

bool PtyDriver::start(std::string& error) {
    if (wakeFd < 0) {
        error = "eventfd failed";
        return false;
    }
    simDevice.start(elapsed());
    if (!ptyPair.attached()) {
        error = attachError;
        return false;
    }
    workerThread = std::thread([this] { run(); });
    return true;
}

std::string PtyDriver::control(std::string_view line) {
    return call([text = std::string(line)](SimDevice& device, SimTime now) {
        return runControlCommand(device, text, now);
    });
}

std::string PtyDriver::slavePath() {
    return call([this](SimDevice&, SimTime) { return ptyPair.slavePath(); });
}

bool PtyDriver::toHost(std::span<const uint8_t> bytes) {
    constexpr size_t outgoingLimit = size_t{64} * 1024;
    if (!ptyPair.attached()) {
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
    const size_t written = ptyPair.write(outgoing);
    outgoing.erase(outgoing.begin(), outgoing.begin() + static_cast<std::ptrdiff_t>(written));
}

bool PtyDriver::hostOpen() const {
    return false; // asked as the dongle comes back, on a pty made a moment ago
}

void PtyDriver::setPresent(bool present) {
    outgoing.clear();
    if (!present) {
        ptyPair.detach();
        return;
    }
    if (!ptyPair.attach(attachError)) {
        std::fprintf(stderr, "linkrelay-sim: %s\n", attachError.c_str());
    }
}

void PtyDriver::wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd, &one, sizeof one);
}

SimTime PtyDriver::elapsed() const {
    return std::chrono::duration_cast<SimTime>(std::chrono::steady_clock::now() - startTime);
}

int PtyDriver::pollTimeout() const {
    const auto due = simDevice.nextDue();
    if (!due) {
        return -1;
    }
    const auto left = *due - elapsed();
    return left.count() <= 0 ? 0 : static_cast<int>(left.count());
}

void PtyDriver::run() {
    Bytes buffer(4096);
    while (!stopRequested) {
        // Wedged: the host's bytes are left unread, so its writes back up.
        const short readEvents = simDevice.wedged() ? 0 : POLLIN;
        const short masterEvents = outgoing.empty() ? readEvents : readEvents | POLLOUT;
        pollfd fds[2] = {{wakeFd, POLLIN, 0}, {ptyPair.masterFd(), masterEvents, 0}};
        const nfds_t count = ptyPair.attached() ? 2 : 1;
        ::poll(fds, count, pollTimeout());
        if (stopRequested) {
            return;
        }
        uint64_t wakes = 0;
        [[maybe_unused]] const ssize_t drained = ::read(wakeFd, &wakes, sizeof wakes);
        const SimTime now = elapsed();
        if (count == 2 && (fds[1].revents & POLLOUT) != 0) {
            flush();
        }
        if (count == 2 && (fds[1].revents & POLLIN) != 0) {
            const long got = ptyPair.read(buffer.data(), buffer.size());
            if (got > 0) {
                simDevice.receive(std::span(buffer.data(), static_cast<size_t>(got)), now);
            }
        }
        for (auto& task : taskQueue.take()) {
            task(simDevice, now);
        }
        simDevice.advance(now);
    }
}

} // namespace sim
