// SimDevice: a BLED112-class dongle in software, speaking BGAPI v1.
//
// The device is a deterministic state machine driven from outside: receive() hands it
// the bytes the host wrote, advance() lets simulated time pass, nextDue() says when
// something is next scheduled. Everything it sends, and its appearing on and vanishing
// from the bus, goes to a SimLink. It keeps the state a module keeps: discovery, the
// pending connect, up to maxConnections links with their GATT state, and its virtual
// peripherals. Faults are injected through the public setters below.
//
// Threads: not thread-safe. One thread at a time calls every member, and the SimLink
// is called on that thread from within receive(), advance() and the fault setters.
// SimRunner and the pty driver each own one device on their own thread.
#pragma once

#include "sim/bgapi_packet.h"
#include "sim/command_parser.h"
#include "sim/gatt_database.h"
#include "sim/peripheral.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace sim {

// Simulated time: milliseconds since the driver started.
using SimTime = std::chrono::milliseconds;

struct SimConfig {
    int maxConnections = 3;                     // as shipped; 1 to 8
    uint32_t reenumerateDelayMs = 1000;         // a reset leaves the bus for this long
    bool refuseConnectWhileDiscovering = false; // answer a connect during discovery with 0x0181
    bool confirmIndications = false;            // indications of type 5, answered by the host
    uint32_t seed = 1;                          // RSSI variation and garbage bytes
    size_t recordLimit = 10000;                 // the newest commands recorded; 0 keeps all
    // Today's fast answers: a GATT discovery answered in one connection interval and
    // every advertising event reported whatever the scan window. Off, as on a module,
    // discovery takes one interval per ATT round and scanning hears only its windows.
    bool instant = false;
    // Wire order, least significant byte first: 00:07:80:5E:00:01, vendor prefix 00-07-80.
    Address address{0x01, 0x00, 0x5E, 0x80, 0x07, 0x00};
};

// Where a device's output goes.
class SimLink {
public:
    virtual ~SimLink() = default;
    // One whole frame (or raw bytes of a fault); false when the port had no room for all
    // of it and dropped it whole.
    virtual bool toHost(std::span<const uint8_t> bytes) = 0;
    // The dongle appears on or vanishes from the bus.
    virtual void setPresent(bool present) = 0;
    // Whether a host has the port open now. Only such a host hears the boot of a module
    // that comes back on the bus; anyone opening the port later finds nothing of it.
    virtual bool hostOpen() const = 0;
};

struct RecordedCommand {
    SimTime at{0};
    Bytes bytes;
    std::string name; // empty when the header names no command
};

// One event of a GATT procedure's answer, kept until its ATT round comes, and the
// events of one round (one ATT response of the peripheral).
struct Outgoing {
    const char* name;
    std::vector<Value> values;
};
using Round = std::vector<Outgoing>;

struct ConnectionInfo {
    uint8_t handle = 0;
    Address address{};
    uint16_t interval = 0;
    uint16_t timeout = 0;
    uint16_t latency = 0;
    bool encrypted = false;
};

// A virtual peripheral as the device runs it: its description and its live GATT table.
struct VirtualPeripheral {
    explicit VirtualPeripheral(PeripheralSpec description)
        : profile(std::move(description)), gatt(profile.services) {}
    VirtualPeripheral(const VirtualPeripheral&) = delete;
    VirtualPeripheral& operator=(const VirtualPeripheral&) = delete;
    VirtualPeripheral(VirtualPeripheral&&) = delete;
    VirtualPeripheral& operator=(VirtualPeripheral&&) = delete;
    ~VirtualPeripheral() = default;

    PeripheralSpec profile; // declared before gatt, which points into it
    GattDatabase gatt;
    bool advertising = true;
    int connection = -1; // the device's handle while connected
    size_t sequenceStep = 0;
};

class SimDevice {
public:
    SimDevice(SimConfig config, std::vector<PeripheralSpec> peripherals, SimLink& link);
    ~SimDevice();
    SimDevice(const SimDevice&) = delete;
    SimDevice& operator=(const SimDevice&) = delete;

    // Plugs the dongle in at `now`: it appears on the bus, and sends system_boot only
    // when a host already has the port open (SimLink::hostOpen).
    void start(SimTime now);
    // Bytes the host wrote. Ignored while the dongle is unplugged.
    void receive(std::span<const uint8_t> bytes, SimTime now);
    // Runs everything scheduled up to `now`.
    void advance(SimTime now);
    // When something is next scheduled, if anything is.
    std::optional<SimTime> nextDue() const;

    // Faults and control.
    void unplug(SimTime now);
    void replug(SimTime now);
    void setSilent(bool silent);
    // Stops / resumes reading the port: what the host writes backs up behind it.
    void setWedged(bool wedged) { isWedged = wedged; }
    void setResponseDelay(uint32_t milliseconds);
    void sendRaw(const Bytes& bytes);
    Bytes garbage(size_t count);
    void failWriteCommands(int count);
    void stallConnects(int count);
    bool remoteDisconnect(uint8_t connection, uint16_t reason, SimTime now);
    bool setInRange(const Address& address, bool inRange, SimTime now);
    bool setAdvertising(const Address& address, bool advertising);
    // Gives a characteristic value a new value and notifies or indicates it to a
    // connected client that asked for it. False when there is no such value handle.
    bool updateValue(const Address& address, uint16_t valueHandle, const Bytes& value, SimTime now);
    void addPeripheral(PeripheralSpec profile);

    // Inspection.
    const std::deque<RecordedCommand>& record() const { return recorded; }
    void clearRecord() { recorded.clear(); }
    bool present() const { return isPresent; }
    bool silent() const { return isSilent; }
    bool wedged() const { return isWedged; }
    bool discovering() const { return discoveryRunning; }
    std::vector<ConnectionInfo> connections() const;
    // Frames dropped whole because the host did not read and the port had no room.
    uint64_t droppedFrames() const { return framesDropped; }
    // The stored bonds' peer addresses, by bond index.
    const std::vector<Address>& bonds() const { return bondStore; }
    const std::vector<std::unique_ptr<VirtualPeripheral>>& peripherals() const {
        return virtualPeripherals;
    }
    const SimConfig& config() const { return settings; }

private:
    struct Timer;
    struct Connection;
    struct PreparedWrite {
        uint16_t handle;
        uint16_t offset;
        Bytes data;
    };
    struct PendingConnect {
        uint8_t handle = 0;
        VirtualPeripheral* peripheral = nullptr; // null: nobody answers
        uint16_t interval = 0;
        uint16_t timeout = 0;
        uint16_t latency = 0;
        uint64_t id = 0;
    };
    using Handler = void (SimDevice::*)(const Message&, SimTime);

    // Core (sim_device.cpp).
    void schedule(SimTime at, std::function<void(SimTime)> action);
    void scheduleInBoot(SimTime at, std::function<void(SimTime)> action);
    void handleIntake(const Intake& intake, SimTime now);
    void expireCommand(SimTime now);
    void dispatch(const Message& message, SimTime now);
    void send(MessageKind kind, const char* name, const std::vector<Value>& values);
    void respond(const char* name, const std::vector<Value>& values);
    void emit(const char* name, const std::vector<Value>& values);
    void powerDown();
    void attach(SimTime now);
    int8_t varied(int8_t rssi);
    static Handler handlerFor(const std::string& name);

    // GAP and connections (sim_device_gap.cpp).
    void gapDiscover(const Message& message, SimTime now);
    void gapEndProcedure(const Message& message, SimTime now);
    void gapConnectDirect(const Message& message, SimTime now);
    void gapSetScanParameters(const Message& message, SimTime now);
    void gapSetMode(const Message& message, SimTime now);
    void gapSetFiltering(const Message& message, SimTime now);
    void gapSetAdvParameters(const Message& message, SimTime now);
    void connectionUpdate(const Message& message, SimTime now);
    void connectionDisconnect(const Message& message, SimTime now);
    void connectionGetRssi(const Message& message, SimTime now);
    void connectionGetStatus(const Message& message, SimTime now);
    static uint32_t advertisingInterval(const VirtualPeripheral& peripheral);
    void scheduleAdvertising(VirtualPeripheral& peripheral, SimTime at);
    void advertise(VirtualPeripheral& peripheral, SimTime now);
    bool inScanWindow(SimTime at) const;
    bool firstReport(const VirtualPeripheral& peripheral, int packetType);
    void emitConnectionStatus(const Connection& connection, int flags);
    void tryConnect(uint64_t id, SimTime now);
    void completeConnect(SimTime now);
    void endConnection(uint8_t handle, uint16_t reason);
    int freeHandle() const;
    int activeConnections() const;
    VirtualPeripheral* peripheralAt(const Address& address);

    // GATT client procedures (sim_device_gatt.cpp).
    void readByGroupType(const Message& message, SimTime now);
    void readByType(const Message& message, SimTime now);
    void findByTypeValue(const Message& message, SimTime now);
    void findInformation(const Message& message, SimTime now);
    void readByHandle(const Message& message, SimTime now);
    void readLong(const Message& message, SimTime now);
    void readMultiple(const Message& message, SimTime now);
    void attributeWrite(const Message& message, SimTime now);
    void writeCommand(const Message& message, SimTime now);
    void prepareWrite(const Message& message, SimTime now);
    void executeWrite(const Message& message, SimTime now);
    void indicateConfirm(const Message& message, SimTime now);
    Connection* attclientConnection(const Message& message);
    Connection* beginProcedure(const char* responseName, const Message& message, bool valid);
    void afterRoundTrip(Connection& connection, SimTime now, std::function<void(SimTime)> step);
    // Sends a procedure's answer: the first round now, each later one a connection
    // interval after the one before, then `last` (the completion) in a round of its own
    // when `finalRound` (the peer's "not found"), else with the last round. Instant
    // devices send it all now.
    void answerInRounds(Connection& connection, SimTime now, std::vector<Round> rounds,
                        Outgoing last, bool finalRound);
    void sendRounds(uint8_t link, SimTime now, std::vector<Round> rounds, size_t at, Outgoing last,
                    bool finalRound);
    Outgoing completion(uint8_t connection, uint16_t result, uint16_t handle) const;
    // Ends a discovery's first round: "not found" when it found nothing, else its rounds.
    void finishDiscovery(uint8_t link, uint16_t start, std::vector<Round> rounds, bool finalRound,
                         SimTime now);
    void completed(uint8_t connection, uint16_t result, uint16_t handle);
    void writeValue(Connection& connection, Attribute& attribute, const Bytes& data, SimTime now);
    void pushValue(Connection& connection, Attribute& value, const Bytes& data);
    void startPeriodicNotify(Connection& connection, uint16_t valueHandle, SimTime now);

    // Security manager: encryption and bonds (sim_device_security.cpp).
    void smEncryptStart(const Message& message, SimTime now);
    void smGetBonds(const Message& message, SimTime now);
    void smDeleteBonding(const Message& message, SimTime now);
    void encrypt(Connection& connection, bool bonding);
    int storeBond(const Address& address);
    int bondOf(const Address& address) const;

    // System and everything the module answers without doing (sim_device_other.cpp).
    void systemReset(const Message& message, SimTime now);
    void systemHello(const Message& message, SimTime now);
    void systemAddressGet(const Message& message, SimTime now);
    void systemGetInfo(const Message& message, SimTime now);
    void systemGetConnections(const Message& message, SimTime now);
    void systemGetCounters(const Message& message, SimTime now);
    void unsupported(const Message& message, SimTime now);

    SimConfig settings;
    SimLink& hostLink;
    std::vector<std::unique_ptr<VirtualPeripheral>> virtualPeripherals;
    std::vector<Timer> timers; // a heap ordered by time, then by order of scheduling
    uint64_t timerSeq = 0;
    CommandParser parser;
    std::deque<RecordedCommand> recorded; // at most settings.recordLimit, oldest first
    std::minstd_rand randomEngine;

    bool isPresent = false;
    uint64_t bootEpoch = 0; // advanced by every power-down; stale timers do nothing
    bool isSilent = false;
    bool isWedged = false;
    uint32_t responseDelayMs = 0;
    int failingWrites = 0;
    int stalledConnects = 0;

    bool discoveryRunning = false;
    uint8_t discoverMode = 0;
    uint64_t discoveryEpoch = 0;
    bool activeScan = false;
    // Scan parameters in 0.625 ms units, as the module has them before any
    // gap_set_scan_parameters; windows count from the start of the discovery.
    uint16_t scanInterval = 75;
    uint16_t scanWindow = 50;
    SimTime discoveryStart{0};
    bool filterDuplicates = false;
    std::set<std::pair<Address, int>> reported; // this discovery's reports, when filtered
    std::vector<Address> bondStore;             // kept across resets, as in flash
    uint64_t framesDropped = 0;
    std::optional<PendingConnect> pendingConnect;
    std::vector<std::unique_ptr<Connection>> connectionSlots; // by handle, null when free
    uint64_t nextLinkId = 1;
};

} // namespace sim
