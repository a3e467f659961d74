// The logind stand-in, built on sd-bus.
#include "fake_login1.h"

#include <fcntl.h>
#include <poll.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

namespace harness {

namespace {

constexpr const char* login1Service = "org.freedesktop.login1";
constexpr const char* login1Path = "/org/freedesktop/login1";
constexpr const char* login1Manager = "org.freedesktop.login1.Manager";
constexpr int pollSliceMs = 20;

} // namespace

FakeLogin1::FakeLogin1(const std::string& address,
                       std::function<void(const std::string&)> noteEvent)
    : note(std::move(noteEvent)) {
    sd_bus* connection = nullptr;
    if (sd_bus_new(&connection) < 0) {
        return;
    }
    if (sd_bus_set_address(connection, address.c_str()) < 0 ||
        sd_bus_set_bus_client(connection, 1) < 0 || sd_bus_negotiate_fds(connection, 1) < 0 ||
        sd_bus_start(connection) < 0 || sd_bus_request_name(connection, login1Service, 0) < 0 ||
        sd_bus_add_object(connection, nullptr, login1Path, onMethodCall, this) < 0) {
        sd_bus_flush_close_unref(connection);
        return;
    }
    bus = connection;
}

FakeLogin1::~FakeLogin1() {
    for (const int fd : heldPipes) {
        close(fd);
    }
    sd_bus_flush_close_unref(bus);
}

int FakeLogin1::onMethodCall(sd_bus_message* call, void* self, sd_bus_error* /*error*/) {
    if (sd_bus_message_is_method_call(call, login1Manager, "Inhibit") == 0) {
        return 0;
    }
    return static_cast<FakeLogin1*>(self)->answerInhibit(call);
}

int FakeLogin1::answerInhibit(sd_bus_message* call) {
    const char* what = nullptr;
    const char* who = nullptr;
    const char* why = nullptr;
    const char* mode = nullptr;
    if (sd_bus_message_read(call, "ssss", &what, &who, &why, &mode) < 0) {
        return sd_bus_reply_method_errorf(call, SD_BUS_ERROR_INVALID_ARGS, "bad arguments");
    }
    calls.push_back({what, who, why, mode});
    if (refusing) {
        return sd_bus_reply_method_errorf(call, SD_BUS_ERROR_ACCESS_DENIED, "not allowed");
    }
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        return sd_bus_reply_method_errorf(call, SD_BUS_ERROR_FAILED, "no pipe");
    }
    // The reply carries a copy of the write end; once the holder closes its copy, the
    // read end reports a hang-up.
    const int result = sd_bus_reply_method_return(call, "h", ends[1]);
    close(ends[1]);
    if (result < 0) {
        close(ends[0]);
        return result;
    }
    heldPipes.push_back(ends[0]);
    ++handedOut;
    note("inhibit");
    return 1;
}

void FakeLogin1::collectReleases() {
    for (auto pipe = heldPipes.begin(); pipe != heldPipes.end();) {
        pollfd readEnd{*pipe, POLLIN, 0};
        if (poll(&readEnd, 1, 0) == 1 && (readEnd.revents & POLLHUP) != 0) {
            close(*pipe);
            pipe = heldPipes.erase(pipe);
            ++released;
            note("released");
        } else {
            ++pipe;
        }
    }
}

bool FakeLogin1::pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (bus != nullptr) {
        while (sd_bus_process(bus, nullptr) > 0) {
        }
        collectReleases();
        if (done()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        const int events = sd_bus_get_events(bus);
        pollfd busFd{sd_bus_get_fd(bus), static_cast<short>(events < 0 ? 0 : events), 0};
        poll(&busFd, 1, pollSliceMs);
    }
    return false;
}

bool FakeLogin1::emitPrepareForSleep(bool sleeping) {
    return bus != nullptr &&
           sd_bus_emit_signal(bus, login1Path, login1Manager, "PrepareForSleep", "b",
                              static_cast<int>(sleeping)) >= 0 &&
           sd_bus_flush(bus) >= 0;
}

bool emitPrepareForSleepFrom(const std::string& address, bool sleeping) {
    sd_bus* connection = nullptr;
    if (sd_bus_new(&connection) < 0) {
        return false;
    }
    const bool sent = sd_bus_set_address(connection, address.c_str()) >= 0 &&
                      sd_bus_set_bus_client(connection, 1) >= 0 && sd_bus_start(connection) >= 0 &&
                      sd_bus_emit_signal(connection, login1Path, login1Manager, "PrepareForSleep",
                                         "b", static_cast<int>(sleeping)) >= 0 &&
                      sd_bus_flush(connection) >= 0;
    sd_bus_flush_close_unref(connection);
    return sent;
}

} // namespace harness
