// The Daemon's life cycle: starting and joining its two worker threads.
#include "service/daemon.h"

#include "service/serial_source_choice.h"
#include "service/service_options.h"
#include "service/worker_loops.h"

#include <utility>

Daemon::Daemon() : Daemon(makeSerialPortSource(serviceOptions())) {
    mux.listenOn(serviceOptions().listen);
}

Daemon::Daemon(std::unique_ptr<SerialPortSource> portSource)
    : ports(std::move(portSource)), conduit(&mux, *ports) {}

Daemon::~Daemon() {
    retire();
}

void Daemon::start() {
    const std::lock_guard<std::mutex> guard(lifecycleLock);
    if (running || retired) {
        return;
    }
    stopRequested.store(false, std::memory_order_seq_cst);
    conduitThread = std::thread(runReader, this);
    muxThread = std::thread(runMux, this);
    running = true;
}

void Daemon::stop() {
    const std::lock_guard<std::mutex> guard(lifecycleLock);
    stopLocked();
}

void Daemon::retire() {
    const std::lock_guard<std::mutex> guard(lifecycleLock);
    stopLocked();
    retired = true;
}

bool Daemon::isRunning() const {
    const std::lock_guard<std::mutex> guard(lifecycleLock);
    return running;
}

void Daemon::stopLocked() {
    if (!running) {
        return;
    }
    stopRequested.store(true, std::memory_order_seq_cst);
    // The mux thread sleeps until there is work: the stop is its work now.
    mux.wake();
    muxThread.join();
    conduitThread.join();
    running = false;
}
