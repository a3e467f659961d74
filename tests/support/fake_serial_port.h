// A scripted serial line for the conduit's and the Daemon's tests: FakeSerial is the dongle's side
// of the line, FakeSerialPort the port the conduit opens on it, FakeSerialPortSource the source
// that finds and opens it.
//
// A test scripts what reads return (byte chunks, empty rounds, errors), sees every write,
// unplugs and replugs the dongle, and may answer writes from onWrite. A read takes the
// next scripted result; with nothing scripted it waits up to its timeout for bytes (or
// returns serialReadEmpty at once when instantEmpty is set, so that watchdog cycles run
// without waiting). A byte chunk longer than the read's `max` is handed out over several
// reads; separate chunks never share a read, so a test decides where rounds end.
//
// Threads: every member of FakeSerial is thread-safe; `mutex` guards all its state and
// `changed` wakes a waiting read. onWrite runs on the writing thread without the lock
// held, so it may script replies. Ports and the source only forward to a FakeSerial
// they share with the test.
#pragma once

#include "conduit/serial/serial_port.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

class FakeSerial {
public:
    using Bytes = std::vector<uint8_t>;

    explicit FakeSerial(std::string portName = "FAKE0") : portName(std::move(portName)) {}

    // --- Scripting reads ---------------------------------------------------------------
    void pushBytes(Bytes bytes) { push(Step{StepKind::bytes, std::move(bytes)}); }
    void pushEmpty() { push(Step{StepKind::empty, {}}); }
    void pushError() { push(Step{StepKind::error, {}}); }
    // With nothing scripted, reads return serialReadEmpty at once instead of waiting.
    void setInstantEmpty(bool instant) {
        std::lock_guard lock(mutex);
        instantEmpty = instant;
    }
    // Scripted read results not yet taken.
    size_t pendingSteps() const {
        std::lock_guard lock(mutex);
        return steps.size();
    }

    // --- Writes -------------------------------------------------------------------------
    // Called after every successful write with its bytes, on the writing thread.
    void setOnWrite(std::function<void(const Bytes&)> action) {
        std::lock_guard lock(mutex);
        writeAction = std::move(action);
    }
    void setFailWrites(bool fail) {
        std::lock_guard lock(mutex);
        failWrites = fail;
    }
    // Each successful write call's bytes, in order.
    std::vector<Bytes> writes() const {
        std::lock_guard lock(mutex);
        return writeLog;
    }
    // All bytes written, joined.
    Bytes written() const {
        std::lock_guard lock(mutex);
        Bytes all;
        for (const Bytes& w : writeLog) {
            all.insert(all.end(), w.begin(), w.end());
        }
        return all;
    }
    void clearWrites() {
        std::lock_guard lock(mutex);
        writeLog.clear();
    }

    // --- The dongle on the bus ----------------------------------------------------------
    // Unplugging breaks the open port (reads and writes fail, a waiting read ends with an
    // error), makes find() return "" and open() fail. Replugging lets open() succeed again;
    // a port broken by the unplug stays broken. Scripted steps are kept.
    void unplug() {
        std::lock_guard lock(mutex);
        present = false;
        ++currentGeneration;
        changed.notify_all();
    }
    void replug() {
        std::lock_guard lock(mutex);
        present = true;
    }
    // Makes open() fail while the dongle stays findable (a port held by someone else).
    void setOpenFails(bool fail) {
        std::lock_guard lock(mutex);
        openFails = fail;
    }
    // The value close() returns.
    void setCloseResult(int result) {
        std::lock_guard lock(mutex);
        closeResult = result;
    }

    // --- Observations -------------------------------------------------------------------
    const std::string& name() const { return portName; }
    int finds() const { return counter(&Counters::finds); }
    int opens() const { return counter(&Counters::opens); }
    int closes() const { return counter(&Counters::closes); }
    int cancels() const { return counter(&Counters::cancels); }
    int reads() const { return counter(&Counters::reads); }
    bool isOpen() const {
        std::lock_guard lock(mutex);
        return openPorts > 0;
    }

    // --- Used by FakeSerialPortSource and FakeSerialPort -------------------------------
    std::string find() {
        std::lock_guard lock(mutex);
        ++counters.finds;
        return present ? portName : std::string();
    }
    // The generation the new port belongs to, or -1 when it cannot be opened.
    long openPort(const std::string& name) {
        std::lock_guard lock(mutex);
        if (!present || openFails || name != portName) {
            return -1;
        }
        ++counters.opens;
        ++openPorts;
        cancelled = false; // a new port has no cancel pending
        return currentGeneration;
    }
    int closePort(bool& closed) {
        std::lock_guard lock(mutex);
        if (!closed) {
            closed = true;
            ++counters.closes;
            --openPorts;
        }
        return closeResult;
    }
    int read(long portGeneration, uint32_t max, uint8_t* bytes, unsigned timeoutMs) {
        std::unique_lock lock(mutex);
        ++counters.reads;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (cancelled) {
                cancelled = false;
                return serialReadCancelled;
            }
            if (portGeneration != currentGeneration) {
                return serialReadError;
            }
            if (!steps.empty()) {
                return takeStep(max, bytes);
            }
            if (instantEmpty || changed.wait_until(lock, deadline) == std::cv_status::timeout) {
                return serialReadEmpty;
            }
        }
    }
    int write(long portGeneration, uint32_t count, const uint8_t* bytes) {
        std::function<void(const Bytes&)> action;
        Bytes copy(bytes, bytes + count);
        {
            std::lock_guard lock(mutex);
            if (portGeneration != currentGeneration || failWrites) {
                return -1;
            }
            writeLog.push_back(copy);
            action = writeAction;
        }
        if (action) {
            action(copy);
        }
        return 0;
    }
    void cancel() {
        std::lock_guard lock(mutex);
        ++counters.cancels;
        cancelled = true;
        changed.notify_all();
    }

private:
    enum class StepKind { bytes, empty, error };
    struct Step {
        StepKind kind;
        Bytes bytes;
    };
    struct Counters {
        int finds = 0;
        int opens = 0;
        int closes = 0;
        int cancels = 0;
        int reads = 0;
    };

    void push(Step step) {
        std::lock_guard lock(mutex);
        steps.push_back(std::move(step));
        changed.notify_all();
    }
    int counter(int Counters::*which) const {
        std::lock_guard lock(mutex);
        return counters.*which;
    }
    // Called with mutex held and steps not empty.
    int takeStep(uint32_t max, uint8_t* bytes) {
        Step& step = steps.front();
        if (step.kind == StepKind::empty) {
            steps.pop_front();
            return serialReadEmpty;
        }
        if (step.kind == StepKind::error) {
            steps.pop_front();
            return serialReadError;
        }
        const size_t count = std::min<size_t>(max, step.bytes.size());
        std::copy_n(step.bytes.begin(), count, bytes);
        step.bytes.erase(step.bytes.begin(), step.bytes.begin() + static_cast<long>(count));
        if (step.bytes.empty()) {
            steps.pop_front();
        }
        return static_cast<int>(count);
    }

    const std::string portName;
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::deque<Step> steps;
    std::vector<Bytes> writeLog;
    std::function<void(const Bytes&)> writeAction;
    Counters counters;
    long currentGeneration = 0; // bumped by unplug(): ports of older generations are broken
    int openPorts = 0;
    int closeResult = 0;
    bool present = true;
    bool openFails = false;
    bool failWrites = false;
    bool instantEmpty = false;
    bool cancelled = false;
};

class FakeSerialPort : public SerialPort {
public:
    FakeSerialPort(std::shared_ptr<FakeSerial> serial, long portGeneration)
        : line(std::move(serial)), generation(portGeneration) {}
    ~FakeSerialPort() override { line->closePort(closed); }

    int readSome(uint32_t max, uint8_t* bytes, unsigned timeoutMs) override {
        return line->read(generation, max, bytes, timeoutMs);
    }
    int write(uint32_t count, const uint8_t* bytes) override {
        return line->write(generation, count, bytes);
    }
    void cancelRead() override { line->cancel(); }
    int close() override { return line->closePort(closed); }

private:
    std::shared_ptr<FakeSerial> line;
    const long generation;
    bool closed = false; // touched only by the thread that owns the port
};

class FakeSerialPortSource : public SerialPortSource {
public:
    explicit FakeSerialPortSource(std::shared_ptr<FakeSerial> serial) : line(std::move(serial)) {}

    std::string find() override { return line->find(); }
    std::unique_ptr<SerialPort> open(const std::string& name) override {
        const long generation = line->openPort(name);
        if (generation < 0) {
            return nullptr;
        }
        return std::make_unique<FakeSerialPort>(line, generation);
    }

private:
    std::shared_ptr<FakeSerial> line;
};
