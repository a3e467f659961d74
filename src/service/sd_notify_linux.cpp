// sd_notify without libsystemd: a datagram on an AF_UNIX socket. A path that starts with
// '@' names an abstract socket, whose address begins with a zero byte instead.
#include "service/sd_notify.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

bool sdNotify(const std::string& message) {
    const char* path = std::getenv("NOTIFY_SOCKET");
    if (path == nullptr || path[0] == '\0') {
        return false;
    }
    const size_t pathLength = std::strlen(path);
    sockaddr_un address{};
    if (pathLength >= sizeof address.sun_path) {
        return false;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path, pathLength);
    if (path[0] == '@') {
        address.sun_path[0] = '\0';
    }
    const auto addressLength = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + pathLength +
                                                      (path[0] == '@' ? 0 : 1));
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return false;
    }
    const ssize_t sent = sendto(fd, message.data(), message.size(), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&address), addressLength);
    close(fd);
    return sent == static_cast<ssize_t>(message.size());
}
