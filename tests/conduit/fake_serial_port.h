// A scripted serial line for conduit tests: FakeSerial is the dongle's side of the line,
// FakeSerialPort the port the conduit opens on it, FakeSerialPortSource the source that
// finds and opens it.
//
// A test scripts what reads return (byte chunks, empty rounds, errors), sees every write,
// unplugs and replugs the dongle, and may answer writes from onWrite. A read takes the
// next scripted result; with nothing scripted it waits up to its timeout for bytes (or
// returns serialReadEmpty at once when instantEmpty is set, so that watchdog cycles run
// without waiting). A byte chunk longer than the read's `max` is handed out over several
// reads; separate chunks never share a read, so a test decides where rounds end.
//
// Threads: every member of FakeSerial is thread-safe; mutex_ guards all its state and
// changed_ wakes a waiting read. onWrite runs on the writing thread without the lock
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
#include <thread>
#include <utility>
#include <vector>

class FakeSerial {
public:
    using Bytes = std::vector<uint8_t>;

    explicit FakeSerial(std::string name = "FAKE0") : name_(std::move(name)) {}

    // --- Scripting reads ---------------------------------------------------------------
    void pushBytes(Bytes bytes) { push(Step{StepKind::bytes, std::move(bytes)}); }
    void pushEmpty() { push(Step{StepKind::empty, {}}); }
    void pushError() { push(Step{StepKind::error, {}}); }
    // With nothing scripted, reads return serialReadEmpty at once instead of waiting.
    void setInstantEmpty(bool instant) {
        std::lock_guard lock(mutex_);
        instantEmpty_ = instant;
    }
    // Scripted read results not yet taken.
    size_t pendingSteps() const {
        std::lock_guard lock(mutex_);
        return steps_.size();
    }

    // --- Writes -------------------------------------------------------------------------
    // Called after every successful write with its bytes, on the writing thread.
    void setOnWrite(std::function<void(const Bytes&)> onWrite) {
        std::lock_guard lock(mutex_);
        onWrite_ = std::move(onWrite);
    }
    void setFailWrites(bool fail) {
        std::lock_guard lock(mutex_);
        failWrites_ = fail;
    }
    // Each successful write call's bytes, in order.
    std::vector<Bytes> writes() const {
        std::lock_guard lock(mutex_);
        return writes_;
    }
    // All bytes written, joined.
    Bytes written() const {
        std::lock_guard lock(mutex_);
        Bytes all;
        for (const Bytes& w : writes_) {
            all.insert(all.end(), w.begin(), w.end());
        }
        return all;
    }
    void clearWrites() {
        std::lock_guard lock(mutex_);
        writes_.clear();
    }

    // --- The dongle on the bus ----------------------------------------------------------
    // Unplugging breaks the open port (reads and writes fail, a waiting read ends with an
    // error), makes find() return "" and open() fail. Replugging lets open() succeed again;
    // a port broken by the unplug stays broken. Scripted steps are kept.
    void unplug() {
        std::lock_guard lock(mutex_);
        present_ = false;
        ++generation_;
        changed_.notify_all();
    }
    void replug() {
        std::lock_guard lock(mutex_);
        present_ = true;
    }
    // Makes open() fail while the dongle stays findable (a port held by someone else).
    void setOpenFails(bool fail) {
        std::lock_guard lock(mutex_);
        openFails_ = fail;
    }
    // The value close() returns.
    void setCloseResult(int result) {
        std::lock_guard lock(mutex_);
        closeResult_ = result;
    }

    // --- Observations -------------------------------------------------------------------
    const std::string& name() const { return name_; }
    int finds() const { return counter(&Counters::finds); }
    int opens() const { return counter(&Counters::opens); }
    int closes() const { return counter(&Counters::closes); }
    int cancels() const { return counter(&Counters::cancels); }
    int reads() const { return counter(&Counters::reads); }
    bool isOpen() const {
        std::lock_guard lock(mutex_);
        return openPorts_ > 0;
    }
    // Waits up to `limit` until `done()` holds; `done` is called without the lock held.
    bool waitFor(const std::function<bool()>& done,
                 std::chrono::milliseconds limit = std::chrono::seconds(5)) const {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

    // --- Used by FakeSerialPortSource and FakeSerialPort -------------------------------
    std::string find() {
        std::lock_guard lock(mutex_);
        ++counters_.finds;
        return present_ ? name_ : std::string();
    }
    // The generation the new port belongs to, or -1 when it cannot be opened.
    long openPort(const std::string& name) {
        std::lock_guard lock(mutex_);
        if (!present_ || openFails_ || name != name_) {
            return -1;
        }
        ++counters_.opens;
        ++openPorts_;
        cancelled_ = false; // a new port has no cancel pending
        return generation_;
    }
    int closePort(bool& closed) {
        std::lock_guard lock(mutex_);
        if (!closed) {
            closed = true;
            ++counters_.closes;
            --openPorts_;
        }
        return closeResult_;
    }
    int read(long generation, uint32_t max, uint8_t* bytes, unsigned timeoutMs) {
        std::unique_lock lock(mutex_);
        ++counters_.reads;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (cancelled_) {
                cancelled_ = false;
                return serialReadCancelled;
            }
            if (generation != generation_) {
                return serialReadError;
            }
            if (!steps_.empty()) {
                return takeStep(max, bytes);
            }
            if (instantEmpty_ || changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
                return serialReadEmpty;
            }
        }
    }
    int write(long generation, uint32_t count, const uint8_t* bytes) {
        std::function<void(const Bytes&)> onWrite;
        Bytes copy(bytes, bytes + count);
        {
            std::lock_guard lock(mutex_);
            if (generation != generation_ || failWrites_) {
                return -1;
            }
            writes_.push_back(copy);
            onWrite = onWrite_;
        }
        if (onWrite) {
            onWrite(copy);
        }
        return 0;
    }
    void cancel() {
        std::lock_guard lock(mutex_);
        ++counters_.cancels;
        cancelled_ = true;
        changed_.notify_all();
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
        std::lock_guard lock(mutex_);
        steps_.push_back(std::move(step));
        changed_.notify_all();
    }
    int counter(int Counters::*which) const {
        std::lock_guard lock(mutex_);
        return counters_.*which;
    }
    // Called with mutex_ held and steps_ not empty.
    int takeStep(uint32_t max, uint8_t* bytes) {
        Step& step = steps_.front();
        if (step.kind == StepKind::empty) {
            steps_.pop_front();
            return serialReadEmpty;
        }
        if (step.kind == StepKind::error) {
            steps_.pop_front();
            return serialReadError;
        }
        const size_t count = std::min<size_t>(max, step.bytes.size());
        std::copy_n(step.bytes.begin(), count, bytes);
        step.bytes.erase(step.bytes.begin(), step.bytes.begin() + static_cast<long>(count));
        if (step.bytes.empty()) {
            steps_.pop_front();
        }
        return static_cast<int>(count);
    }

    const std::string name_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Step> steps_;
    std::vector<Bytes> writes_;
    std::function<void(const Bytes&)> onWrite_;
    Counters counters_;
    long generation_ = 0; // bumped by unplug(): ports of older generations are broken
    int openPorts_ = 0;
    int closeResult_ = 0;
    bool present_ = true;
    bool openFails_ = false;
    bool failWrites_ = false;
    bool instantEmpty_ = false;
    bool cancelled_ = false;
};

class FakeSerialPort : public SerialPort {
public:
    FakeSerialPort(std::shared_ptr<FakeSerial> line, long generation)
        : line_(std::move(line)), generation_(generation) {}
    ~FakeSerialPort() override { line_->closePort(closed_); }

    int readSome(uint32_t max, uint8_t* bytes, unsigned timeoutMs) override {
        return line_->read(generation_, max, bytes, timeoutMs);
    }
    int write(uint32_t count, const uint8_t* bytes) override {
        return line_->write(generation_, count, bytes);
    }
    void cancelRead() override { line_->cancel(); }
    int close() override { return line_->closePort(closed_); }

private:
    std::shared_ptr<FakeSerial> line_;
    const long generation_;
    bool closed_ = false; // touched only by the thread that owns the port
};

class FakeSerialPortSource : public SerialPortSource {
public:
    explicit FakeSerialPortSource(std::shared_ptr<FakeSerial> line) : line_(std::move(line)) {}

    std::string find() override { return line_->find(); }
    std::unique_ptr<SerialPort> open(const std::string& name) override {
        const long generation = line_->openPort(name);
        if (generation < 0) {
            return nullptr;
        }
        return std::make_unique<FakeSerialPort>(line_, generation);
    }

private:
    std::shared_ptr<FakeSerial> line_;
};
