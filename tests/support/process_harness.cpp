// Temporary folders, child processes and the notification socket for the tests.
#include "process_harness.h"

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace harness {

namespace {

constexpr size_t logStampLength = 24; // "2026-12-08 03:22:05.007 "

} // namespace

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "linkrelay-test-XXXXXX");
    if (mkdtemp(pattern.data()) != nullptr) {
        dirPath = pattern;
    }
}

TempDir::~TempDir() {
    if (!dirPath.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dirPath, ignored);
    }
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> filesIn(const std::string& folder, const std::string& prefix) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.starts_with(prefix)) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

int countOf(const std::string& text, const std::string& piece) {
    int count = 0;
    for (std::size_t at = text.find(piece); at != std::string::npos;
         at = text.find(piece, at + piece.size())) {
        ++count;
    }
    return count;
}

std::vector<std::string> linesFrom(const std::string& text, const std::string& marker) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const size_t at = line.find(marker);
        if (at == 0 || at == logStampLength) {
            lines.push_back(line.substr(at));
        }
    }
    return lines;
}

bool portFree(uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return free;
}

double cpuSecondsOf(pid_t pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const size_t close = content.rfind(')');
    if (close == std::string::npos) {
        return 0;
    }
    std::istringstream fields(content.substr(close + 2));
    std::string field;
    double ticks = 0;
    // After the name: state is field 3; utime is 14, stime 15.
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14 || index == 15) {
            ticks += std::stod(field);
        }
    }
    return ticks / double(::sysconf(_SC_CLK_TCK));
}

namespace {

std::vector<std::string> childEnvironment(const ChildOptions& options) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const size_t equals = text.find('=');
        if (equals != std::string::npos) {
            variables[text.substr(0, equals)] = text.substr(equals + 1);
        }
    }
    for (const std::string& name : options.unsetEnv) {
        variables.erase(name);
    }
    for (const auto& [name, value] : options.setEnv) {
        variables[name] = value;
    }
    std::vector<std::string> result;
    result.reserve(variables.size());
    for (const auto& [name, value] : variables) {
        std::string entry = name;
        entry += '=';
        entry += value;
        result.push_back(std::move(entry));
    }
    return result;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

void redirect(posix_spawn_file_actions_t& actions, int fd, const std::string& path) {
    posix_spawn_file_actions_addopen(&actions, fd, path.empty() ? "/dev/null" : path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
}

} // namespace

ChildProcess::ChildProcess(const ChildOptions& options) {
    std::vector<std::string> arguments{options.program};
    arguments.insert(arguments.end(), options.arguments.begin(), options.arguments.end());
    std::vector<std::string> environment = childEnvironment(options);
    std::vector<char*> argv = pointersTo(arguments);
    std::vector<char*> envp = pointersTo(environment);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    redirect(actions, 1, options.stdoutPath);
    redirect(actions, 2, options.stderrPath);
    // The child starts with no signal blocked and default dispositions, whatever the test
    // process has set up for itself.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &stopSignals);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    pid_t child = -1;
    if (posix_spawn(&child, options.program.c_str(), &actions, &attributes, argv.data(),
                    envp.data()) == 0) {
        pid = child;
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
}

ChildProcess::~ChildProcess() {
    if (pid > 0 && !exitStatus) {
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
    }
}

bool ChildProcess::sendSignal(int signal) const {
    return pid > 0 && !exitStatus && kill(pid, signal) == 0;
}

std::optional<int> ChildProcess::waitExit(std::chrono::milliseconds timeout) {
    if (pid <= 0 || exitStatus) {
        return exitStatus;
    }
    waitUntil(
        [this] {
            int status = 0;
            if (waitpid(pid, &status, WNOHANG) == pid) {
                exitStatus = status;
            }
            return exitStatus.has_value();
        },
        timeout);
    return exitStatus;
}

NotifySocket::NotifySocket(std::string name) : socketName(std::move(name)) {
    sockaddr_un address{};
    if (socketName.empty() || socketName.size() >= sizeof address.sun_path) {
        return;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socketName.data(), socketName.size());
    const bool abstract = socketName[0] == '@';
    if (abstract) {
        address.sun_path[0] = '\0';
    }
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + socketName.size() +
                                               (abstract ? 0 : 1));
    fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        close(fd);
        fd = -1;
    }
}

NotifySocket::~NotifySocket() {
    if (fd < 0) {
        return;
    }
    close(fd);
    if (socketName[0] != '@') {
        unlink(socketName.c_str());
    }
}

std::optional<std::string> NotifySocket::receive(std::chrono::milliseconds timeout) const {
    pollfd ready{fd, POLLIN, 0};
    if (fd < 0 || poll(&ready, 1, static_cast<int>(timeout.count())) != 1) {
        return std::nullopt;
    }
    char buffer[4096];
    const ssize_t length = recv(fd, buffer, sizeof buffer, 0);
    if (length < 0) {
        return std::nullopt;
    }
    return std::string(buffer, static_cast<size_t>(length));
}

} // namespace harness
