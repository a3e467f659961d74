// The Daemon: owns the two sides of the service and runs each on a worker thread.
//
// Threads: start, stop and retire may be called from any thread (the service thread at
// service start and stop, the power-listener thread at suspend and resume); they are
// serialised by `lifecycleLock`, so no two of them ever run at the same time. The worker
// threads only read `stopRequested`; only start clears it and only stop sets it.
//
// Ownership: the Daemon owns the Mux, the source of the dongle's serial port and the
// dongle conduit it hands the Mux (constructed with the Mux's address as its event sink
// and the port source); they live as long as the Daemon, the source longer than the
// conduit. Only the mux thread (runMux) drives the Mux; only the conduit thread
// (runReader) opens and reads the dongle; the conduit is reached through its own lock.
//
// Unmatched calls are harmless: start does nothing while running, stop does nothing
// while stopped. Once retired (the service has stopped) the Daemon never starts again,
// so a late resume cannot leave running threads behind a Daemon about to be destroyed.
#pragma once

#include "conduit/bg/conduit_bg.h"
#include "conduit/serial/serial_port.h"
#include "mux/mux.h"
#include "service/build_info.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

class Daemon {
public:
    // The port source and listening address chosen by the process's options
    // (serviceOptions()).
    Daemon();
    explicit Daemon(std::unique_ptr<SerialPortSource> portSource);
    ~Daemon();
    Daemon(const Daemon&) = delete;
    Daemon& operator=(const Daemon&) = delete;

    // Clears stopRequested, starts the conduit thread, then the mux thread.
    void start();
    // Sets stopRequested, joins the mux thread, then the conduit thread.
    void stop();
    // Stops for good: later start calls do nothing.
    void retire();

    bool isRunning() const;
    // Read by the worker loops before every step.
    bool stopping() const { return stopRequested.load(std::memory_order_seq_cst); }

private:
    friend void runMux(Daemon* daemon);
    friend void runReader(Daemon* daemon);

    void stopLocked();

    Mux mux{buildCommit};                    // the TCP side; driven by the mux thread
    std::unique_ptr<SerialPortSource> ports; // where the dongle's port is found and opened
    ConduitBg conduit;                       // the BLE side; opened by the conduit thread
    std::atomic<bool> stopRequested{false};  // set by stop, cleared by start
    std::thread muxThread;                   // runs runMux while the Daemon runs
    std::thread conduitThread;               // runs the reader loop while the Daemon runs

    mutable std::mutex lifecycleLock; // serialises start/stop/retire; guards the two below
    bool running = false;             // both worker threads are started and not joined
    bool retired = false;             // the service has stopped: never start again
};
