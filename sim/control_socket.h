// ControlSocket (Linux): a Unix stream socket on which linkrelay-sim takes control
// commands, one per line; each reply is written back to the client that sent it.
//
// Threads: owned by one thread (linkrelay-sim's main thread), which polls the
// descriptors that pollFds() lists and hands the results to handle().
#pragma once

#include <functional>
#include <poll.h>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

class ControlSocket {
public:
    explicit ControlSocket(std::string path);
    ~ControlSocket();
    ControlSocket(const ControlSocket&) = delete;
    ControlSocket& operator=(const ControlSocket&) = delete;

    // Binds and listens (replacing a stale socket file); false with a message in `error`.
    bool open(std::string& error);
    const std::string& path() const { return socketPath; }

    // Appends the listening socket and every client to `fds`.
    void pollFds(std::vector<pollfd>& fds) const;
    // Accepts new clients, reads the others, runs each whole line through `run` and
    // writes its reply back; drops clients that hung up.
    void handle(const std::vector<pollfd>& fds,
                const std::function<std::string(std::string_view)>& run);

private:
    struct Client {
        int fd;
        std::string pending;
    };

    void readClient(Client& client, const std::function<std::string(std::string_view)>& run);

    std::string socketPath;
    int listener = -1;
    std::vector<Client> clients;
};

} // namespace sim
