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

ControlSocket::ControlSocket(std::string path) : path_(std::move(path)) {}

ControlSocket::~ControlSocket() {
    for (const auto& client : clients_) {
        ::close(client.fd);
    }
    if (listen_ >= 0) {
        ::close(listen_);
        ::unlink(path_.c_str());
    }
}

bool ControlSocket::open(std::string& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.size() >= sizeof address.sun_path) {
        error = path_ + ": path too long for a socket";
        return false;
    }
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    listen_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::unlink(path_.c_str());
    if (listen_ < 0 ||
        ::bind(listen_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listen_, 4) != 0) {
        error = path_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

void ControlSocket::pollFds(std::vector<pollfd>& fds) const {
    fds.push_back({listen_, POLLIN, 0});
    for (const auto& client : clients_) {
        fds.push_back({client.fd, POLLIN, 0});
    }
}

void ControlSocket::handle(const std::vector<pollfd>& fds,
                           const std::function<std::string(std::string_view)>& run) {
    for (const auto& entry : fds) {
        if (entry.revents == 0) {
            continue;
        }
        if (entry.fd == listen_) {
            const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                clients_.push_back({fd, {}});
            }
            continue;
        }
        for (auto& client : clients_) {
            if (client.fd == entry.fd) {
                readClient(client, run);
            }
        }
    }
    std::erase_if(clients_, [](const Client& client) { return client.fd < 0; });
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
