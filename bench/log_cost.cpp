// Log bytes per notification and per connect. See log_cost.h.
#include "log_cost.h"

#include "gob/gob_events.h"
#include "log/log.h"
#include "mux_thread.h"
#include "ordered_receiver.h"
#include "service_process.h"
#include "windowed_feed.h"

#include <filesystem>

namespace {

using namespace std::chrono_literals;

constexpr int notifiedClients = 10;
constexpr uint64_t notifications = 1000;
constexpr int manyClients = 1000;

uint64_t logBytes() {
    std::error_code error;
    const uintmax_t size = std::filesystem::file_size(logFilePath(), error);
    return error ? 0 : static_cast<uint64_t>(size);
}

Figure logFigure(const std::string& name, double value) {
    Figure figure;
    figure.group = "Log";
    figure.name = name;
    figure.value = value;
    figure.unit = "bytes";
    return figure;
}

// Posts numbered attribute values for the device the clients hold; true when every
// client got every one, in order.
bool notifyAll(MuxThread& running, std::vector<std::unique_ptr<GobSocket>>& sockets) {
    std::vector<GobSocket*> views;
    for (auto& socket : sockets) {
        views.push_back(socket.get());
    }
    OrderedReceiver receiver(views, GobAttributeValue);
    for (uint64_t number = 0; number < notifications; ++number) {
        uint8_t value[8];
        putNumber(number, value);
        Gob gob;
        buildAttributeValueGob(gob, muxBenchDevice, 0, value, sizeof value);
        running.mux.postEvent(gob);
    }
    const ReceiveOutcome outcome = receiver.run(notifications, 30s);
    return outcome.complete && outcome.inOrder;
}

void perNotification(BenchReport& report, MuxThread& running) {
    std::vector<std::unique_ptr<GobSocket>> sockets = connectedClients(notifiedClients);
    const std::string name = "log bytes per notification per client";
    if (static_cast<int>(sockets.size()) != notifiedClients) {
        report.skip("Log", name, "the clients could not connect");
        return;
    }
    const uint64_t before = logBytes();
    if (!notifyAll(running, sockets)) {
        report.skip("Log", name, "not every notification arrived");
        return;
    }
    const uint64_t total = logBytes() - before;
    Figure figure = logFigure(name, double(total) / double(notifications * notifiedClients));
    figure.note = std::to_string(notifications) + " notifications to " +
                  std::to_string(notifiedClients) + " clients wrote " + std::to_string(total) +
                  " bytes to the log file (the same again to standard error): one "
                  "\"mux: sending standard gob\" line per notification per client";
    report.add(figure);
}

// The bytes that listing `count` clients line by line would take, as the log did before
// the list was bounded: one stamped heading and one "<id> \n" line per client, an id
// being a stream's address in hexadecimal (12 digits on x86-64 Linux).
uint64_t fullListBytes(int count) {
    constexpr uint64_t idLineBytes = 14;
    return 24 + std::string("mux: current connections\n").size() + uint64_t(count) * idLineBytes;
}

void perThousandthConnect(BenchReport& report) {
    const std::string name = "log bytes at the connect of the 1,000th client";
    std::vector<std::unique_ptr<GobSocket>> sockets;
    for (int i = 0; i < manyClients - 1; ++i) {
        auto socket = std::make_unique<GobSocket>();
        if (!socket->open(gobDefaultPort, 10s) || !socket->waitType(GobStatus, 5s)) {
            report.skip("Log", name, "client " + std::to_string(i + 1) + " was not served");
            return;
        }
        sockets.push_back(std::move(socket));
    }
    const uint64_t before = logBytes();
    GobSocket last;
    if (!last.open(gobDefaultPort, 10s) || !last.waitType(GobStatus, 5s)) {
        report.skip("Log", name, "the 1,000th client was not served");
        return;
    }
    // The Mux logs the arrival before it sends the GobStatus.
    const uint64_t total = logBytes() - before;
    Figure figure = logFigure(name, double(total));
    figure.note = "one copy; the list of 999 clients line by line would add about " +
                  std::to_string(fullListBytes(manyClients - 1)) + " bytes";
    report.add(figure);
}

} // namespace

void benchLogCost(BenchReport& report) {
    const harness::TempDir logs;
    logOpenIn(logs.file("logs"));
    if (!waitPortFree(120s)) {
        report.skip("Log", "log bytes", "port 9089 stayed busy");
        logClose();
        return;
    }
    {
        MuxThread running;
        perNotification(report, running);
    }
    if (waitPortFree(120s)) {
        MuxThread running;
        perThousandthConnect(report);
    }
    logClose();
}
