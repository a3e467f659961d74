// linkrelay-sim as a child process, and a client of its control socket.
#include "sim_dongle_process.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <filesystem>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace harness {

namespace {

using namespace std::chrono_literals;

bool replyComplete(const std::string& reply) {
    if (reply.empty() || reply.back() != '\n') {
        return false;
    }
    const size_t start = reply.rfind('\n', reply.size() - 2);
    const std::string last = reply.substr(start == std::string::npos ? 0 : start + 1);
    return last == "ok\n" || last.starts_with("error:");
}

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

SimDongleProcess::SimDongleProcess(const TempDir& folder, const std::vector<std::string>& extra)
    : linkPath(folder.file("dongle.tty")), controlPath(folder.file("dongle.control")) {
    std::vector<std::string> arguments = {"--link", linkPath, "--control", controlPath};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    process = std::make_unique<ChildProcess>(ChildOptions{
        .program = LINKRELAY_SIM_BINARY,
        .arguments = arguments,
        .setEnv = {},
        .unsetEnv = {},
        .stdoutPath = folder.file("sim-stdout"),
        .stderrPath = folder.file("sim-stderr"),
    });
    up = process->started() && waitUntil(
                                   [&] {
                                       return std::filesystem::exists(linkPath) &&
                                              std::filesystem::exists(controlPath);
                                   },
                                   10s);
}

std::string SimDongleProcess::control(const std::string& command) const {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    controlPath.copy(address.sun_path, sizeof address.sun_path - 1);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        if (fd >= 0) {
            ::close(fd);
        }
        return {};
    }
    const std::string line = command + "\n";
    std::string reply;
    if (::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size())) {
        const auto deadline = Clock::now() + 10s;
        while (!replyComplete(reply) && Clock::now() < deadline) {
            pollfd wait = {fd, POLLIN, 0};
            if (::poll(&wait, 1, 100) <= 0) {
                continue;
            }
            std::array<char, 4096> buffer{};
            const ssize_t got = ::read(fd, buffer.data(), buffer.size());
            if (got <= 0) {
                break;
            }
            reply.append(buffer.data(), static_cast<size_t>(got));
        }
    }
    ::close(fd);
    return reply;
}

std::vector<std::string> SimDongleProcess::record() const {
    std::vector<std::string> lines;
    std::istringstream text(control("record"));
    for (std::string line; std::getline(text, line);) {
        if (line.find(" ms ") != std::string::npos) {
            lines.push_back(line);
        }
    }
    return lines;
}

std::vector<std::string> SimDongleProcess::recorded(const std::string& name) const {
    std::vector<std::string> bytes;
    const std::string marker = " ms " + name + " ";
    for (const std::string& line : record()) {
        const size_t at = line.find(marker);
        if (at != std::string::npos) {
            bytes.push_back(line.substr(at + marker.size()));
        }
    }
    return bytes;
}

int SimDongleProcess::valueHandle(const std::string& address, const std::string& uuid) const {
    std::istringstream text(control("peripherals"));
    bool inPeripheral = false;
    for (std::string line; std::getline(text, line);) {
        if (!line.starts_with(" ")) {
            inPeripheral = line.starts_with(address);
            continue;
        }
        std::istringstream fields(line);
        int handle = 0;
        std::string role;
        std::string type;
        fields >> handle >> role >> type;
        if (inPeripheral && role == "value" && lower(type) == lower(uuid)) {
            return handle;
        }
    }
    return 0;
}

} // namespace harness
