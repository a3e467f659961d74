// Control commands. See sim_control.h.
#include "sim/sim_control.h"

#include "sim/peripheral_text.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <vector>

namespace sim {

namespace {

struct Usage {
    std::string text;
};

std::vector<std::string> words(std::string_view line) {
    std::vector<std::string> out;
    std::istringstream in{std::string(line)};
    std::string word;
    while (in >> word) {
        out.push_back(word);
    }
    return out;
}

long toInteger(const std::string& text) {
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 0);
    if (text.empty() || *end != '\0') {
        throw Usage{"bad number \"" + text + "\""};
    }
    return value;
}

Address toAddress(const std::string& text) {
    const auto address = parseAddress(text);
    if (!address) {
        throw Usage{"bad address \"" + text + "\" (AA:BB:CC:DD:EE:FF)"};
    }
    return *address;
}

bool toSwitch(const std::string& text, const char* on, const char* off) {
    if (text == on) {
        return true;
    }
    if (text == off) {
        return false;
    }
    throw Usage{std::string("say ") + on + " or " + off};
}

std::string hex(const Bytes& bytes) {
    std::string out;
    char buffer[4];
    for (const uint8_t byte : bytes) {
        std::snprintf(buffer, sizeof buffer, "%02x ", byte);
        out += buffer;
    }
    if (!out.empty()) {
        out.pop_back();
    }
    return out;
}

std::string status(const SimDevice& device) {
    std::ostringstream out;
    out << "on bus: " << (device.present() ? "yes" : "no")
        << ", silent: " << (device.silent() ? "yes" : "no")
        << ", discovering: " << (device.discovering() ? "yes" : "no")
        << ", dropped frames: " << device.droppedFrames() << ", bonds: " << device.bonds().size()
        << "\n";
    for (const auto& link : device.connections()) {
        out << "link " << int{link.handle} << ": " << addressText(link.address) << " interval "
            << link.interval << " timeout " << link.timeout << " latency " << link.latency
            << (link.encrypted ? " encrypted" : "") << "\n";
    }
    return out.str();
}

const char* roleName(const Attribute& attribute) {
    switch (attribute.role) {
    case AttributeRole::Service:
        return "service";
    case AttributeRole::Declaration:
        return "declaration";
    case AttributeRole::Value:
        return "value";
    case AttributeRole::ClientConfiguration:
        return "configuration";
    }
    return "";
}

std::string peripherals(const SimDevice& device) {
    std::ostringstream out;
    for (const auto& peripheral : device.peripherals()) {
        const PeripheralSpec& profile = peripheral->profile;
        out << addressText(profile.address) << " \"" << profile.name << "\""
            << (profile.addressType == 1 ? " random" : "")
            << (profile.connectable ? "" : " not-connectable")
            << (profile.bondable ? " bondable" : "") << (profile.inRange ? "" : " out-of-range")
            << (peripheral->connection >= 0 ? " link " + std::to_string(peripheral->connection)
                                            : std::string())
            << "\n";
        for (const auto& attribute : peripheral->gatt.attributes()) {
            out << "  " << attribute.handle << " " << roleName(attribute) << " "
                << attribute.type.text() << " [" << hex(attribute.value) << "]\n";
        }
    }
    return out.str();
}

std::string record(const SimDevice& device) {
    std::ostringstream out;
    for (const auto& entry : device.record()) {
        out << entry.at.count() << " ms " << (entry.name.empty() ? "?" : entry.name) << " "
            << hex(entry.bytes) << "\n";
    }
    return out.str();
}

// Runs one command; returns the reply lines before the final "ok".
std::string execute(SimDevice& device, const std::vector<std::string>& args, SimTime now) {
    const std::string& name = args[0];
    const auto need = [&args](size_t count) {
        if (args.size() != count + 1) {
            throw Usage{"wrong number of arguments; see help"};
        }
    };
    if (name == "help") {
        return controlHelp();
    }
    if (name == "status") {
        return status(device);
    }
    if (name == "peripherals") {
        return peripherals(device);
    }
    if (name == "record") {
        if (args.size() == 2 && args[1] == "clear") {
            device.clearRecord();
            return {};
        }
        return record(device);
    }
    if (name == "unplug" || name == "replug") {
        need(0);
        name == "unplug" ? device.unplug(now) : device.replug(now);
        return {};
    }
    if (name == "silence") {
        need(1);
        device.setSilent(toSwitch(args[1], "on", "off"));
        return {};
    }
    if (name == "wedge") {
        need(1);
        device.setWedged(toSwitch(args[1], "on", "off"));
        return {};
    }
    if (name == "garbage") {
        const Bytes bytes =
            device.garbage(args.size() > 1 ? static_cast<size_t>(toInteger(args[1])) : 16);
        device.sendRaw(bytes);
        return hex(bytes) + "\n";
    }
    if (name == "send") {
        std::string text;
        for (size_t i = 1; i < args.size(); ++i) {
            text += args[i];
        }
        const auto bytes = parseHex(text);
        if (!bytes || bytes->empty()) {
            throw Usage{"send HEX"};
        }
        device.sendRaw(*bytes);
        return {};
    }
    if (name == "unknown") {
        need(0);
        device.sendRaw({0x80, 0x00, 0x08, 0x00});
        return {};
    }
    if (name == "busy") {
        need(1);
        device.failWriteCommands(static_cast<int>(toInteger(args[1])));
        return {};
    }
    if (name == "stall-connect") {
        need(1);
        device.stallConnects(static_cast<int>(toInteger(args[1])));
        return {};
    }
    if (name == "disconnect") {
        need(2);
        const auto link = static_cast<uint8_t>(toInteger(args[1]));
        if (!device.remoteDisconnect(link, static_cast<uint16_t>(toInteger(args[2])), now)) {
            throw Usage{"no link " + args[1]};
        }
        return {};
    }
    if (name == "slow") {
        need(1);
        device.setResponseDelay(static_cast<uint32_t>(toInteger(args[1])));
        return {};
    }
    if (name == "range") {
        need(2);
        if (!device.setInRange(toAddress(args[1]), toSwitch(args[2], "in", "out"), now)) {
            throw Usage{"no peripheral " + args[1]};
        }
        return {};
    }
    if (name == "advertise") {
        need(2);
        if (!device.setAdvertising(toAddress(args[1]), toSwitch(args[2], "on", "off"))) {
            throw Usage{"no peripheral " + args[1]};
        }
        return {};
    }
    if (name == "notify") {
        if (args.size() < 4) {
            throw Usage{"notify ADDR HANDLE HEX"};
        }
        std::string text;
        for (size_t i = 3; i < args.size(); ++i) {
            text += args[i];
        }
        const auto value = parseHex(text);
        if (!value) {
            throw Usage{"bad hex"};
        }
        const auto handle = static_cast<uint16_t>(toInteger(args[2]));
        if (!device.updateValue(toAddress(args[1]), handle, *value, now)) {
            throw Usage{"no value handle " + args[2] + " at " + args[1]};
        }
        return {};
    }
    throw Usage{"unknown command \"" + name + "\"; see help"};
}

} // namespace

std::string runControlCommand(SimDevice& device, std::string_view line, SimTime now) {
    const auto args = words(line);
    if (args.empty()) {
        return {};
    }
    try {
        return execute(device, args, now) + "ok\n";
    } catch (const Usage& usage) {
        return "error: " + usage.text + "\n";
    }
}

const char* controlHelp() {
    return "help                        this list\n"
           "status                      on the bus or not, silence, discovery, frames dropped\n"
           "                            for a host that did not read, bonds, links\n"
           "peripherals                 the virtual peripherals and their attribute handles\n"
           "record [clear]              the commands received: time, name and bytes\n"
           "unplug | replug             the dongle leaves the bus / comes back and boots\n"
           "silence on|off              stop / resume sending anything (trips a watchdog)\n"
           "wedge on|off                stop / resume reading the port (behind a pty the\n"
           "                            host's writes back up until they block)\n"
           "garbage [COUNT]             send COUNT random bytes (default 16)\n"
           "send HEX                    send these bytes as they are\n"
           "unknown                     send a message of unknown class and id (event 8/0)\n"
           "busy N                      answer the next N write commands with 0x0182\n"
           "stall-connect N             the next N connects are never answered\n"
           "disconnect CONN REASON      the remote side ends link CONN (e.g. 0x0213 0x0208 "
           "0x0222)\n"
           "slow MS                     answer every command MS ms late (0: at once)\n"
           "range ADDR in|out           a peripheral comes into / goes out of range\n"
           "advertise ADDR on|off       a peripheral starts / stops advertising\n"
           "notify ADDR HANDLE HEX      a peripheral's value changes; a subscribed link hears it\n"
           "Numbers are decimal or 0x-prefixed hex; addresses AA:BB:CC:DD:EE:FF.\n";
}

} // namespace sim
