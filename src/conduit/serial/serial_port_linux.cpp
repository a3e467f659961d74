// The Linux serial port: a tty opened non-blocking, raw, and exclusive to this process,
// with an eventfd that cancels a read.
//
// Exclusive: TIOCEXCL refuses further opens of the tty (except to root), and an flock
// held for as long as the port is open refuses a second instance of the service, root
// or not. A read polls the tty and the eventfd against a monotonic deadline and returns
// what arrived; a hang-up (read() returning 0, POLLHUP, POLLERR) is a read error, as is
// every failure other than EINTR and EAGAIN. cancelRead adds to the eventfd; a read
// that finds it signalled drains it and returns cancelled, whether the kick came while
// it waited or before it began.
//
// Threads: the reader thread reads and closes, the mux thread writes and cancels (both
// under the conduit lock, so close never overlaps a write or a cancel). The descriptors
// are set at open and only close changes them.
#include "conduit/serial/serial_port_platform.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto writeLimit = std::chrono::milliseconds(serialWriteLimitMs);

int msUntil(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

bool makeRaw(int fd) {
    termios settings{};
    if (tcgetattr(fd, &settings) != 0) {
        return false;
    }
    cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    return tcsetattr(fd, TCSANOW, &settings) == 0;
}

class LinuxSerialPort : public SerialPort {
public:
    LinuxSerialPort(int port, int kick) : fd(port), kickFd(kick) {}
    ~LinuxSerialPort() override { close(); }
    LinuxSerialPort(const LinuxSerialPort&) = delete;
    LinuxSerialPort& operator=(const LinuxSerialPort&) = delete;

    int readSome(uint32_t max, uint8_t* bytes, unsigned timeoutMs) override {
        if (fd < 0) {
            return serialReadError;
        }
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            pollfd fds[2] = {{fd, POLLIN, 0}, {kickFd, POLLIN, 0}};
            const int ready = ::poll(fds, 2, msUntil(deadline));
            if (ready < 0 && errno != EINTR) {
                return serialReadError;
            }
            if (ready > 0 && (fds[1].revents & POLLIN) != 0) {
                drainKick();
                return serialReadCancelled;
            }
            if (ready > 0 && fds[0].revents != 0) {
                const int result = readReady(fds[0].revents, max, bytes);
                if (result != serialReadEmpty) {
                    return result;
                }
            }
            if (Clock::now() >= deadline) {
                return serialReadEmpty;
            }
        }
    }

    int write(uint32_t count, const uint8_t* bytes) override {
        if (fd < 0) {
            return -1;
        }
        const auto deadline = Clock::now() + writeLimit;
        while (count > 0) {
            const ssize_t written = ::write(fd, bytes, count);
            if (written > 0) {
                bytes += written;
                count -= static_cast<uint32_t>(written);
                continue;
            }
            // Interrupted: again. Full: again once there is room. Anything else fails.
            const bool retry =
                written < 0 && (errno == EINTR || (errno == EAGAIN && waitWritable(deadline)));
            if (!retry) {
                return -1;
            }
        }
        return 0;
    }

    void cancelRead() override {
        if (kickFd >= 0) {
            const uint64_t one = 1;
            [[maybe_unused]] const ssize_t ignored = ::write(kickFd, &one, sizeof one);
        }
    }

    int close() override {
        if (fd < 0) {
            return EBADF;
        }
        const int result = ::close(fd) == 0 ? 0 : errno;
        ::close(kickFd);
        fd = -1;
        kickFd = -1;
        return result;
    }

private:
    // The tty reported `revents`: the count read, serialReadEmpty when there was nothing
    // after all, serialReadError on a hang-up or failure.
    int readReady(short revents, uint32_t max, uint8_t* bytes) {
        if ((revents & POLLIN) == 0) {
            return serialReadError; // POLLHUP, POLLERR or POLLNVAL alone
        }
        const ssize_t got = ::read(fd, bytes, max);
        if (got > 0) {
            return static_cast<int>(got);
        }
        if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
            return serialReadEmpty;
        }
        return serialReadError; // 0: end of file, the other side hung up
    }

    void drainKick() {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t ignored = ::read(kickFd, &count, sizeof count);
    }

    bool waitWritable(Clock::time_point deadline) {
        pollfd room = {fd, POLLOUT, 0};
        const int ready = ::poll(&room, 1, msUntil(deadline));
        return (ready > 0 && (room.revents & POLLOUT) != 0) || (ready < 0 && errno == EINTR);
    }

    int fd;     // the tty; -1 once closed
    int kickFd; // the eventfd that cancelRead signals; -1 once closed
};

thread_local std::string openFailure; // lastOpenFailure's text

// Records errno as the reason of a failed open; closes `fd` when it is open.
std::unique_ptr<SerialPort> failOpen(const char* step, int fd) {
    const int error = errno;
    openFailure =
        std::string(step) + ": " + std::strerror(error) + " (errno " + std::to_string(error) + ")";
    if (fd >= 0) {
        ::close(fd);
    }
    return nullptr;
}

} // namespace

std::unique_ptr<SerialPort> openSerialPort(const std::string& name) {
    openFailure.clear();
    const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return failOpen("open", -1);
    }
    // The lock first: setting TIOCEXCL on a port another instance holds would lock it out.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return failOpen("flock", fd);
    }
    if (::ioctl(fd, TIOCEXCL) != 0) {
        return failOpen("TIOCEXCL", fd);
    }
    if (!makeRaw(fd)) {
        return failOpen("raw mode", fd);
    }
    const int kickFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (kickFd < 0) {
        return failOpen("eventfd", fd);
    }
    return std::make_unique<LinuxSerialPort>(fd, kickFd);
}

std::string lastOpenFailure() {
    return openFailure;
}

bool serialPortExists(const std::string& name) {
    struct stat info {};
    return ::stat(name.c_str(), &info) == 0;
}
