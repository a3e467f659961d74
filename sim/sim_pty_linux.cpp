// The pseudo-terminal transport. See sim_pty.h.
#include "sim/sim_pty.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

SimPty::SimPty(std::string linkPath) : symlinkPath(std::move(linkPath)) {}

SimPty::~SimPty() {
    detach();
}

bool SimPty::attach(std::string& error) {
    detach();
    master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        error = std::string("pseudo-terminal: ") + std::strerror(errno);
        detach();
        return false;
    }
    char name[128];
    if (ptsname_r(master, name, sizeof name) != 0) {
        error = std::string("ptsname: ") + std::strerror(errno);
        detach();
        return false;
    }
    slaveDevicePath = name;
    slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios mode{};
    if (slave < 0 || tcgetattr(slave, &mode) != 0) {
        error = slaveDevicePath + ": " + std::strerror(errno);
        detach();
        return false;
    }
    cfmakeraw(&mode);
    tcsetattr(slave, TCSANOW, &mode);
    const std::string fresh = symlinkPath + ".new";
    ::unlink(fresh.c_str());
    if (::symlink(name, fresh.c_str()) != 0 || ::rename(fresh.c_str(), symlinkPath.c_str()) != 0) {
        error = symlinkPath + ": " + std::strerror(errno);
        detach();
        return false;
    }
    return true;
}

void SimPty::detach() {
    if (master >= 0) {
        ::unlink(symlinkPath.c_str());
    }
    if (slave >= 0) {
        ::close(slave);
        slave = -1;
    }
    if (master >= 0) {
        ::close(master);
        master = -1;
    }
    slaveDevicePath.clear();
}

size_t SimPty::write(std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (master >= 0 && done < bytes.size()) {
        const ssize_t count = ::write(master, bytes.data() + done, bytes.size() - done);
        if (count > 0) {
            done += static_cast<size_t>(count);
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else {
            break;
        }
    }
    return done;
}

long SimPty::read(uint8_t* buffer, size_t max) {
    while (true) {
        const ssize_t count = ::read(master, buffer, max);
        if (count >= 0) {
            return count;
        }
        if (errno == EINTR) {
            continue;
        }
        return errno == EAGAIN ? 0 : -1;
    }
}

} // namespace sim
