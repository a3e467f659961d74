// The Mux on a thread of the benchmark. See mux_thread.h.
#include "mux_thread.h"

#include "mux/gob_server.h"
#include "mux/run_mux.h"

namespace {

using namespace std::chrono_literals;

} // namespace

MuxThread::MuxThread()
    : conduit(&mux), thread([this] { runMuxLoop(mux, conduit, [this] { return stop.load(); }); }) {}

MuxThread::~MuxThread() {
    stop = true;
    mux.wake();
    thread.join();
}

std::vector<std::unique_ptr<GobSocket>> connectedClients(int count) {
    std::vector<std::unique_ptr<GobSocket>> sockets;
    for (int i = 0; i < count; ++i) {
        auto socket = std::make_unique<GobSocket>();
        if (!socket->open(gobDefaultPort, 10s)) {
            break;
        }
        std::optional<Gob> status = socket->waitGob(5s);
        if (!status || gobType(*status) != GobStatus || !socket->sendConnect(muxBenchDevice)) {
            break;
        }
        std::optional<Gob> connected = socket->waitGob(5s);
        if (!connected || gobType(*connected) != GobConnected) {
            break;
        }
        sockets.push_back(std::move(socket));
    }
    return sockets;
}
