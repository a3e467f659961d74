// Fuzz target: an arbitrary byte stream from the dongle, read by ConduitBg's reader cycle
// and handled with live state: sessions in every procedure state, known services and
// characteristics, queued and started GAP operations, write commands waiting for their
// responses. Between cycles the conduit's operations run as a client would call them, so
// handlers meet the state those operations leave.
//
// Threads: one; every input runs on a fresh conduit and leaves no process-wide state.
#include "conduit/bgapi/bgapi_pack.h"
#include "conduit/serial/serial_io.h"
#include "conduit_bg_test_peer.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace {

// The dongle's side of the line: hands out the input, then fails like an unplugged port.
class InputPort : public SerialPort {
public:
    InputPort(const uint8_t* data, size_t size) : data(data), size(size) {}

    int readSome(uint32_t max, uint8_t* bytes, unsigned /*timeoutMs*/) override {
        if (cancelled) {
            cancelled = false;
            return serialReadCancelled;
        }
        if (offset == size) {
            return serialReadError;
        }
        const size_t count = std::min<size_t>(max, size - offset);
        std::copy_n(data + offset, count, bytes);
        offset += count;
        return static_cast<int>(count);
    }
    int write(uint32_t /*count*/, const uint8_t* /*bytes*/) override { return 0; }
    void cancelRead() override { cancelled = true; }
    int close() override { return 0; }

private:
    const uint8_t* data;
    size_t size;
    size_t offset = 0;
    bool cancelled = false;
};

class NoPorts : public SerialPortSource {
public:
    std::string find() override { return {}; }
    std::unique_ptr<SerialPort> open(const std::string& /*name*/) override { return nullptr; }
};

// Events go nowhere; the clock moves a second per reading so that connects expire.
class FuzzConduit : public ConduitBgTestPeer {
public:
    explicit FuzzConduit(SerialPortSource& ports) : ConduitBgTestPeer(nullptr, ports) {}

protected:
    void post(const Gob& /*gob*/) override {}
    int64_t clockSeconds() override { return ++seconds; }
    void sleepMs(uint32_t /*milliseconds*/) override {}

private:
    int64_t seconds = 0;
};

constexpr int sessionCount = 7;

BleAddress addressOf(int number) {
    return BleAddress{{0xA0, 0x00, 0x00, 0x00, 0x00, static_cast<uint8_t>(number)}};
}

UuidRecord uuid16(uint16_t value) {
    UuidRecord record;
    record.bytes[0] = static_cast<uint8_t>(value >> 8);
    record.bytes[1] = static_cast<uint8_t>(value & 0xFF);
    record.length = 2;
    return record;
}

// Connections 0 to 6 with a session each, in the procedure state of their number, and
// connection 7 without one; a GAP queue and a write queue with work in flight.
void liven(FuzzConduit& conduit) {
    const std::vector<uint8_t> value(45, 0x5A);
    for (int connection = 0; connection < sessionCount; ++connection) {
        const BleAddress address = addressOf(connection);
        conduit.connections[address] = connection;
        BgSession& session = conduit.sessions[connection];
        session.address = address;
        session.state = static_cast<SessionState>(connection);
        for (uint8_t index = 0; index < 4; ++index) {
            const int32_t handle = 0x10 + 4 * index;
            session.charIndexByHandle[handle] = index;
            session.charHandleByIndex[index] = handle;
            session.charUuidByHandle[handle] = uuid16(0x2A00 + index);
        }
        session.serviceIndexByHandle[1] = 0;
        session.serviceUuidByHandle[1] = uuid16(0x1800);
        session.pendingUuids = {uuid16(0x2A37), uuid16(0x2A38)};
        session.writeBuffer = value;
        session.writeOffset = 18;
    }
    conduit.connections[addressOf(sessionCount)] = sessionCount;

    GapOp connect(GapOpType::Connect, addressOf(9));
    connect.connIntervalMax = 24;
    connect.started = true;
    conduit.gapOps.push_back(connect);
    conduit.gapOps.emplace_back(GapOpType::Disconnect, addressOf(1));
    conduit.gapOps.emplace_back(GapOpType::StartScan);
    conduit.gapOps.emplace_back(GapOpType::StopScan);
    conduit.scanWanted = true;

    WriteChunk chain;
    chain.connection = static_cast<int32_t>(SessionState::WritingNoResponse);
    chain.handle = 0x10;
    chain.length = 20;
    writeQueue.push_back(chain);
    WriteChunk subscription;
    subscription.connection = 0;
    subscription.handle = 0x11;
    subscription.length = 2;
    subscription.kind = WriteChunkKind::Subscription;
    writeQueue.push_back(subscription);
}

// One operation, as a client would ask for it, chosen by the cycle's number.
void operate(FuzzConduit& conduit, unsigned cycle) {
    static const std::array<uint8_t, 45> data{};
    const BleAddress address = addressOf(static_cast<int>(cycle % (sessionCount + 2)));
    const auto index = static_cast<uint8_t>(cycle % 6);
    const LockGuard guard(conduit.lock);
    switch (cycle % 12) {
    case 0:
        conduit.findServices(address);
        return;
    case 1:
        conduit.findCharsAndDescs(address, {uuid16(0x2A01), uuid16(0x2A02)});
        return;
    case 2:
        conduit.read(address, index);
        return;
    case 3:
        conduit.write(address, index, data.data(), 7, true);
        return;
    case 4:
        conduit.write(address, index, data.data(), 40, true);
        return;
    case 5:
        conduit.write(address, index, data.data(), 45, false);
        return;
    case 6:
        conduit.notify(address, index);
        return;
    case 7:
        conduit.unsubscribe(address, index);
        return;
    case 8:
        conduit.getRssi(address);
        return;
    case 9:
        conduit.connect(address, 6, cycle, 100, 0);
        return;
    case 10:
        conduit.disconnect(address);
        return;
    default:
        conduit.startScan();
        return;
    }
}

} // namespace

// The conduit logs every step; only libFuzzer's own output (which it keeps on a copy of
// standard error) is of interest here.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static char quiet[] = "-close_fd_mask=3";
    static std::vector<char*> arguments;
    arguments.assign(*argv, *argv + *argc);
    arguments.push_back(quiet);
    arguments.push_back(nullptr);
    *argc = static_cast<int>(arguments.size() - 1);
    *argv = arguments.data();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    NoPorts ports;
    FuzzConduit conduit(ports);
    serialPort = std::make_unique<InputPort>(data, size);
    bgOutput = writePacket;
    conduit.ready = true;
    conduit.state = ConduitState::Ready;
    liven(conduit);

    // Every cycle reads at least one byte, or is ended by the kick of the operation before.
    const size_t cycleLimit = 2 * size + 2;
    for (unsigned cycle = 0; cycle < cycleLimit; ++cycle) {
        if (conduit.readCycle(1000) == ConduitBg::CycleEnd::Reopen) {
            break;
        }
        operate(conduit, cycle);
    }
    conduit.close();
    bgOutput = nullptr;
    return 0;
}
