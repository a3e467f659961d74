// The dongle path benchmarks. See dongle_benches.h.
#include "dongle_benches.h"

#include "bench_clock.h"
#include "dongle_rig.h"
#include "floor_relay.h"
#include "latency_stats.h"
#include "windowed_feed.h"

#include <algorithm>
#include <poll.h>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int latencyEvents = 10000;
// Each read waits one simulated connection interval (7.5 ms) for its answer.
constexpr int requestCount = 2000;
constexpr auto latencyBound = 180s;
constexpr uint64_t notifyWindow = 64; // 64 notifications of 17 bytes fit any pty buffer
constexpr uint64_t notifyBatch = 16;

// One event's latency in microseconds: received now, sent at the stamp it carries.
std::optional<double> eventLatency(GobSocket& socket) {
    const std::optional<Gob> gob = socket.waitType(GobAttributeValue, 2s);
    const int64_t received = nowNs();
    const std::optional<uint64_t> sent = gob ? payloadNumber(*gob) : std::nullopt;
    if (!sent) {
        return std::nullopt;
    }
    return double(received - static_cast<int64_t>(*sent)) / 1000.0;
}

LatencySummary serviceEventLatency(DongleRig& rig, GobSocket& socket) {
    LatencySamples samples(latencyEvents);
    const auto deadline = Clock::now() + latencyBound;
    while (samples.size() < latencyEvents && Clock::now() < deadline) {
        if (!rig.dongle.notify(rig.valueHandle, 0, true)) {
            break;
        }
        const std::optional<double> latency = eventLatency(socket);
        if (!latency) {
            break;
        }
        samples.add(*latency);
    }
    return samples.summary();
}

LatencySummary floorEventLatency(FloorRelay& relay) {
    LatencySamples samples(latencyEvents);
    const auto deadline = Clock::now() + latencyBound;
    while (samples.size() < latencyEvents && Clock::now() < deadline) {
        relay.writeNotification(static_cast<uint64_t>(nowNs()));
        const std::optional<double> latency = eventLatency(*relay.clients().front());
        if (!latency) {
            break;
        }
        samples.add(*latency);
    }
    return samples.summary();
}

LatencySummary serviceRequestLatency(DongleRig& rig, GobSocket& socket, uint8_t index) {
    LatencySamples samples(requestCount);
    const auto deadline = Clock::now() + latencyBound;
    rig.dongle.takeReadArrivals();
    while (samples.size() < requestCount && Clock::now() < deadline) {
        const int64_t sent = nowNs();
        socket.sendRead(sensorAddress(), index);
        if (!socket.waitType(GobAttributeValue, 2s)) {
            break;
        }
        const std::vector<int64_t> arrivals = rig.dongle.takeReadArrivals();
        if (arrivals.size() != 1) {
            break;
        }
        samples.add(double(arrivals.front() - sent) / 1000.0);
    }
    return samples.summary();
}

LatencySummary floorRequestLatency(FloorRelay& relay) {
    LatencySamples samples(requestCount);
    const auto deadline = Clock::now() + latencyBound;
    while (samples.size() < requestCount && Clock::now() < deadline) {
        const int64_t sent = nowNs();
        relay.clients().front()->sendRead(sensorAddress(), 0);
        const std::optional<int64_t> arrived = relay.awaitRead(2s);
        if (!arrived) {
            break;
        }
        samples.add(double(*arrived - sent) / 1000.0);
    }
    return samples.summary();
}

void addLatency(BenchReport& report, const std::string& group, const std::string& what,
                const LatencySummary& service, const LatencySummary& floor,
                const std::string& target, bool targetOnAdded, double limit, size_t wanted) {
    const std::pair<const char*, double LatencySummary::*> parts[] = {
        {"p50", &LatencySummary::p50},
        {"p99", &LatencySummary::p99},
        {"max", &LatencySummary::max}};
    for (const auto& [label, member] : parts) {
        Figure figure;
        figure.group = group;
        figure.name = what + " " + label;
        figure.value = service.*member;
        figure.unit = "us";
        figure.baseline = floor.*member;
        figure.baselineName = "bare pty + TCP relay";
        figure.note =
            std::to_string(service.count) + " samples (floor " + std::to_string(floor.count) + ")";
        report.add(figure);
    }
    Figure added;
    added.group = group;
    added.name = what + (targetOnAdded ? " p99 added by the service" : " p99 against target");
    added.value = targetOnAdded ? service.p99 - floor.p99 : service.p99;
    added.unit = "us";
    added.target = target;
    added.met = service.count >= wanted && added.value <= limit;
    added.note = targetOnAdded ? "service p99 minus floor p99" : "service p99";
    report.add(added);
}

std::vector<GobSocket*> views(std::vector<std::unique_ptr<GobSocket>>& sockets) {
    std::vector<GobSocket*> out;
    out.reserve(sockets.size());
    for (auto& socket : sockets) {
        out.push_back(socket.get());
    }
    return out;
}

ReceiveOutcome serviceNotifyThroughput(DongleRig& rig,
                                       std::vector<std::unique_ptr<GobSocket>>& sockets,
                                       uint64_t count) {
    OrderedReceiver receiver(views(sockets), GobAttributeValue);
    const auto deadline = Clock::now() + 60s;
    std::thread feeder([&] {
        feedWindowed(receiver, count, notifyWindow, notifyBatch, deadline,
                     [&](uint64_t first, uint64_t end) {
                         rig.dongle.notifyRange(rig.valueHandle, first, end);
                     });
    });
    ReceiveOutcome outcome = receiver.run(count, 60s);
    feeder.join();
    return outcome;
}

ReceiveOutcome floorNotifyThroughput(FloorRelay& relay, uint64_t count) {
    OrderedReceiver receiver(views(relay.clients()), GobAttributeValue);
    const auto deadline = Clock::now() + 60s;
    std::thread feeder([&] {
        feedWindowed(receiver, count, notifyWindow, notifyBatch, deadline,
                     [&](uint64_t first, uint64_t end) {
                         for (uint64_t number = first; number < end; ++number) {
                             relay.writeNotification(number);
                         }
                     });
    });
    ReceiveOutcome outcome = receiver.run(count, 60s);
    feeder.join();
    return outcome;
}

void addThroughput(BenchReport& report, int clients, uint64_t count, const ReceiveOutcome& service,
                   const ReceiveOutcome& floor, uint64_t dropped) {
    Figure figure;
    figure.group = "Throughput";
    figure.name = "notifications delivered to " + std::to_string(clients) +
                  (clients == 1 ? " client" : " clients");
    figure.unit = "gobs/s";
    figure.value = service.seconds > 0 ? double(service.delivered) / service.seconds : 0;
    if (floor.complete && floor.seconds > 0) {
        figure.baseline = double(floor.delivered) / floor.seconds;
        figure.baselineName = "bare pty + TCP relay";
    }
    const bool allInOrder = service.complete && service.inOrder && dropped == 0;
    if (clients == 1) {
        // One client: the service hands each event over as it comes, as the relay does.
        figure.target = ">= 80 % of the floor, every event, in order";
        figure.met = allInOrder && figure.baseline && figure.value >= 0.8 * *figure.baseline;
    } else {
        figure.target = "every event arrives, in order";
        figure.met = allInOrder;
    }
    figure.note = std::to_string(count) + " notifications, at most " +
                  std::to_string(notifyWindow) + " in flight; " +
                  (service.complete ? "all delivered" : "INCOMPLETE") +
                  (service.inOrder ? ", in order" : ", OUT OF ORDER") + "; " +
                  std::to_string(service.delivered / std::max(1, clients)) +
                  " per client; events/s = gobs/s / clients";
    report.add(figure);
}

void benchOneClient(BenchReport& report) {
    LatencySummary serviceEvents;
    LatencySummary serviceRequests;
    ReceiveOutcome serviceFlow;
    uint64_t dropped = 0;
    {
        DongleRig rig(0);
        uint8_t index = 0;
        std::vector<std::unique_ptr<GobSocket>> sockets =
            rig.ready() ? rig.holders(1, index) : decltype(sockets){};
        if (sockets.empty()) {
            report.skip("Event latency", "dongle path", rig.why());
            return;
        }
        serviceEvents = serviceEventLatency(rig, *sockets.front());
        serviceRequests = serviceRequestLatency(rig, *sockets.front(), index);
        serviceFlow = serviceNotifyThroughput(rig, sockets, 20000);
        dropped = rig.dongle.droppedBytes();
    }
    harness::TempDir floorFolder;
    FloorRelay relay(floorFolder.file(""), 1);
    if (!relay.ready()) {
        report.skip("Event latency", "floor", "the floor relay did not start");
        return;
    }
    const LatencySummary floorEvents = floorEventLatency(relay);
    const LatencySummary floorRequests = floorRequestLatency(relay);
    const ReceiveOutcome floorFlow = floorNotifyThroughput(relay, 20000);
    addLatency(report, "Event latency", "notification -> GobAttributeValue", serviceEvents,
               floorEvents, "<= 100 us added", true, 100, latencyEvents);
    addLatency(report, "Request latency", "GobRead -> read_by_handle at dongle", serviceRequests,
               floorRequests, "<= 1000 us", false, 1000, requestCount);
    addThroughput(report, 1, 20000, serviceFlow, floorFlow, dropped);
}

void benchHundredClients(BenchReport& report) {
    constexpr int clients = 100;
    constexpr uint64_t count = 5000;
    ReceiveOutcome service;
    uint64_t dropped = 0;
    {
        DongleRig rig(0);
        uint8_t index = 0;
        std::vector<std::unique_ptr<GobSocket>> sockets =
            rig.ready() ? rig.holders(clients, index) : decltype(sockets){};
        if (sockets.empty()) {
            report.skip("Throughput", "notifications to 100 clients", rig.why());
            return;
        }
        service = serviceNotifyThroughput(rig, sockets, count);
        dropped = rig.dongle.droppedBytes();
    }
    harness::TempDir floorFolder;
    FloorRelay relay(floorFolder.file(""), clients);
    const ReceiveOutcome floor =
        relay.ready() ? floorNotifyThroughput(relay, count) : ReceiveOutcome{};
    addThroughput(report, clients, count, service, floor, dropped);
}

// Drains every socket for `span`, counting scan results per socket.
void countScanResults(std::vector<std::unique_ptr<GobSocket>>& sockets,
                      std::vector<uint64_t>& counts, std::chrono::milliseconds span) {
    std::vector<pollfd> fds;
    fds.reserve(sockets.size());
    for (auto& socket : sockets) {
        fds.push_back({socket->fd(), POLLIN, 0});
    }
    const auto end = Clock::now() + span;
    while (Clock::now() < end) {
        ::poll(fds.data(), fds.size(), 10);
        for (size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents == 0) {
                continue;
            }
            sockets[i]->pump();
            while (std::optional<Gob> gob = sockets[i]->next()) {
                counts[i] += gobType(*gob) == GobScanResult ? 1 : 0;
            }
        }
    }
}

void benchScanFanOut(BenchReport& report) {
    constexpr int clients = 100;
    constexpr int beacons = 50;
    constexpr auto span = 5s;
    DongleRig rig(beacons);
    std::vector<std::unique_ptr<GobSocket>> sockets =
        rig.ready() ? rig.plainClients(clients) : decltype(sockets){};
    if (sockets.empty()) {
        report.skip("Throughput", "scan results to 100 scanning clients", rig.why());
        return;
    }
    for (auto& socket : sockets) {
        socket->sendStartScan();
    }
    std::vector<uint64_t> counts(sockets.size(), 0);
    countScanResults(sockets, counts, 1s); // scanning starts and settles
    std::fill(counts.begin(), counts.end(), 0);
    const uint64_t sentBefore = rig.dongle.scanResponsesSent();
    countScanResults(sockets, counts, span);
    const uint64_t sent = rig.dongle.scanResponsesSent() - sentBefore;
    uint64_t total = 0;
    for (const uint64_t count : counts) {
        total += count;
    }
    const uint64_t fewest = *std::min_element(counts.begin(), counts.end());
    const double seconds = std::chrono::duration<double>(span).count();
    Figure figure;
    figure.group = "Throughput";
    figure.name = "scan results fanned out to 100 scanning clients";
    figure.value = double(total) / seconds;
    figure.unit = "gobs/s";
    figure.baseline = double(sent) * clients / seconds;
    figure.baselineName = "scan responses the dongle sent x 100";
    figure.target = "every client gets every result";
    figure.met = double(fewest) >= 0.99 * double(sent);
    figure.note = std::to_string(beacons) + " beacons advertising every 20-30 ms; over " +
                  std::to_string(int(seconds)) + " s the dongle sent " + std::to_string(sent) +
                  " scan responses and the slowest client received " + std::to_string(fewest) +
                  " (edges of the window blur the count by a few)";
    report.add(figure);
}

} // namespace

void benchDonglePath(BenchReport& report) {
    benchOneClient(report);
    benchHundredClients(report);
    benchScanFanOut(report);
}
