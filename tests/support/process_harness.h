// Test harness for running real programs: temporary folders, child processes started with
// an environment of the test's choosing, the systemd notification socket, reading what a
// program left behind, and what /proc tells of a process. Used by the tests and the
// benchmarks alike. Every wait is bounded by a timeout (waitUntil).
//
// Threads: each object belongs to the thread of the test that made it.
#pragma once

#include "wait_until.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace harness {

using Clock = std::chrono::steady_clock;

// A fresh folder under the system's temporary folder, removed with all its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return dirPath; }
    std::string file(const std::string& name) const { return dirPath + "/" + name; }

private:
    std::string dirPath;
};

// The whole content of a file; empty when it cannot be read.
std::string readFile(const std::string& path);

// The names of the files in `folder` that begin with `prefix`, sorted.
std::vector<std::string> filesIn(const std::string& folder, const std::string& prefix);

// The lines of `text` (without their "\n") that begin with `marker`, right after the
// log's time stamp or without one, each from `marker` on.
std::vector<std::string> linesFrom(const std::string& text, const std::string& marker);

// How many times `piece` stands in `text`, without overlaps.
int countOf(const std::string& text, const std::string& piece);

// Whether TCP `port` can be bound here (nobody else listens on it).
bool portFree(uint16_t port);

// User plus system CPU seconds of process `pid`, from /proc; 0 when it cannot be read.
double cpuSecondsOf(pid_t pid);

struct ChildOptions {
    std::string program;
    std::vector<std::string> arguments;
    std::map<std::string, std::string> setEnv; // added to or replacing the test's own
    std::vector<std::string> unsetEnv;         // removed from the test's own
    std::string stdoutPath;                    // empty: /dev/null
    std::string stderrPath;                    // empty: /dev/null
};

// A child process. Killed (SIGKILL, by its pid) and reaped on destruction if still there.
class ChildProcess {
public:
    explicit ChildProcess(const ChildOptions& options);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool started() const { return pid > 0; }
    pid_t id() const { return pid; }
    bool sendSignal(int signal) const;
    // The wait status once the child has ended within `timeout`.
    std::optional<int> waitExit(std::chrono::milliseconds timeout);

private:
    pid_t pid = -1;
    std::optional<int> exitStatus;
};

// A datagram socket that receives systemd notifications. A name that begins with '@'
// is an abstract socket; any other is a path.
class NotifySocket {
public:
    explicit NotifySocket(std::string name);
    ~NotifySocket();
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    bool bound() const { return fd >= 0; }
    const std::string& name() const { return socketName; }
    // The next datagram, or nothing when none arrives within `timeout`.
    std::optional<std::string> receive(std::chrono::milliseconds timeout) const;

private:
    std::string socketName;
    int fd = -1;
};

} // namespace harness
