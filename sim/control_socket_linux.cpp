// The control socket of linkrelay-sim. See control_socket.h.
#include "sim/control_socket.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace sim {

namespace {

void writeAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t count = ::send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return;
        }
        done += static_cast<size_t>(count);
    }
}

} // namespace

ControlSocket::ControlSocket(std::string path) : socketPath(std::move(path)) {}

ControlSocket::~ControlSocket() {
    for (const auto& client : clients) {
        ::close(client.fd);
    }
    if (listener >= 0) {
        ::close(listener);
        ::unlink(socketPath.c_str());
    }
}

bool ControlSocket::open(std::string& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) {
        error = socketPath + ": path too long for a socket";
        return false;
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::unlink(socketPath.c_str());
    if (listener < 0 ||
        ::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener, 4) != 0) {
        error = socketPath + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void ControlSocket::pollFds(std::vector<pollfd>& fds) const {
    fds.push_back({listener, POLLIN, 0});
    for (const auto& client : clients) {
        fds.push_back({client.fd, POLLIN, 0});
    }
}

void ControlSocket::handle(const std::vector<pollfd>& fds,
                           const std::function<std::string(std::string_view)>& run) {
    for (const auto& entry : fds) {
        if (entry.revents == 0) {
            continue;
        }
        if (entry.fd == listener) {
            const int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                clients.push_back({fd, {}});
            }
            continue;
        }
        for (auto& client : clients) {
            if (client.fd == entry.fd) {
                readClient(client, run);
            }
        }
    }
    std::erase_if(clients, [](const Client& client) { return client.fd < 0; });
}

void ControlSocket::readClient(Client& client,
                               const std::function<std::string(std::string_view)>& run) {
    char buffer[1024];
    const ssize_t count = ::read(client.fd, buffer, sizeof buffer);
    if (count <= 0) {
        ::close(client.fd);
        client.fd = -1;
        return;
    }
    client.pending.append(buffer, static_cast<size_t>(count));
    size_t end = 0;
    while ((end = client.pending.find('\n')) != std::string::npos) {
        const std::string line = client.pending.substr(0, end);
        client.pending.erase(0, end + 1);
        writeAll(client.fd, run(line));
    }
}

} // namespace sim
