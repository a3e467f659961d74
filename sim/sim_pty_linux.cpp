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

SimPty::SimPty(std::string linkPath) : linkPath_(std::move(linkPath)) {}

SimPty::~SimPty() {
    detach();
}

bool SimPty::attach(std::string& error) {
    detach();
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        error = std::string("pseudo-terminal: ") + std::strerror(errno);
        detach();
        return false;
    }
    char name[128];
    if (ptsname_r(master_, name, sizeof name) != 0) {
        error = std::string("ptsname: ") + std::strerror(errno);
        detach();
        return false;
    }
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios mode{};
    if (slave_ < 0 || tcgetattr(slave_, &mode) != 0) {
        error = slavePath_ + ": " + std::strerror(errno);
        detach();
        return false;
    }
    cfmakeraw(&mode);
    tcsetattr(slave_, TCSANOW, &mode);
    const std::string fresh = linkPath_ + ".new";
    ::unlink(fresh.c_str());
    if (::symlink(name, fresh.c_str()) != 0 || ::rename(fresh.c_str(), linkPath_.c_str()) != 0) {
        error = linkPath_ + ": " + std::strerror(errno);
        detach();
        return false;
    }
    return true;
}

void SimPty::detach() {
    if (master_ >= 0) {
        ::unlink(linkPath_.c_str());
    }
    if (slave_ >= 0) {
        ::close(slave_);
        slave_ = -1;
    }
    if (master_ >= 0) {
        ::close(master_);
        master_ = -1;
    }
    slavePath_.clear();
}

size_t SimPty::write(std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (master_ >= 0 && done < bytes.size()) {
        const ssize_t count = ::write(master_, bytes.data() + done, bytes.size() - done);
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
        const ssize_t count = ::read(master_, buffer, max);
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
