// `scan`: scans for a while and prints each device seen once, or every advertisement.
#include "linkrelay/address_text.h"
#include "linkrelay/client.h"
#include "linkrelay/uuid_text.h"
#include "tools/commands.h"
#include "tools/event_text.h"
#include "tools/json_text.h"
#include "tools/session.h"

#include <algorithm>
#include <cctype>
#include <map>

namespace linkrelay::cli {

namespace {

constexpr std::chrono::milliseconds defaultScanTime{5000};

struct ScanOptions {
    std::chrono::milliseconds duration = defaultScanTime;
    std::optional<std::string> name; // part of the device name, in any case
    std::optional<UuidRecord> service;
    bool everyAdvertisement = false;
};

// What the advertisements and scan responses of one device have told so far.
struct SeenDevice {
    BleAddress address;
    std::optional<std::string> name;
    int8_t rssi = 0; // of the latest
    std::vector<UuidRecord> services;
};

constexpr const char* scanUsage =
    "usage: linkrelay-cli scan [--seconds N] [--name TEXT] [--service UUID] [--all]";

ScanOptions parseScanOptions(const std::vector<std::string>& arguments) {
    ScanOptions options;
    for (size_t at = 0; at < arguments.size(); ++at) {
        const std::string& argument = arguments[at];
        const bool hasValue = at + 1 < arguments.size();
        if (argument == "--all") {
            options.everyAdvertisement = true;
        } else if (argument == "--seconds" && hasValue) {
            const std::optional<std::chrono::milliseconds> duration = parseSeconds(arguments[++at]);
            if (!duration) {
                throw UsageError("--seconds needs a number of seconds");
            }
            options.duration = *duration;
        } else if (argument == "--name" && hasValue) {
            options.name = arguments[++at];
        } else if (argument == "--service" && hasValue) {
            options.service = parseUuid(arguments[++at]);
            if (!options.service) {
                throw UsageError("--service needs a UUID like 180d");
            }
        } else {
            throw UsageError(scanUsage);
        }
    }
    return options;
}

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

void merge(SeenDevice& device, const ScanResultEvent& scan) {
    device.rssi = scan.rssi;
    if (std::optional<std::string> name = scan.advertising.name()) {
        device.name = std::move(name);
    }
    for (const UuidRecord& uuid : scan.advertising.serviceUuids) {
        const bool known =
            std::any_of(device.services.begin(), device.services.end(),
                        [&uuid](const UuidRecord& other) { return sameUuid(uuid, other); });
        if (!known) {
            device.services.push_back(uuid);
        }
    }
}

bool matches(const SeenDevice& device, const ScanOptions& options) {
    if (options.name && (!device.name || lowerCase(*device.name).find(lowerCase(*options.name)) ==
                                             std::string::npos)) {
        return false;
    }
    if (options.service) {
        return std::any_of(
            device.services.begin(), device.services.end(),
            [&options](const UuidRecord& uuid) { return sameUuid(uuid, *options.service); });
    }
    return true;
}

std::string deviceLine(const SeenDevice& device, bool json) {
    if (json) {
        JsonObject object;
        object.add("event", "device")
            .add("address", formatAddress(device.address))
            .add("rssi", int64_t{device.rssi});
        if (device.name) {
            object.add("name", *device.name);
        }
        object.addRaw("services", jsonStringArray(uuidTexts(device.services)));
        return object.text();
    }
    std::string line = formatAddress(device.address) + " rssi " + std::to_string(device.rssi);
    if (device.name) {
        line += " name \"" + *device.name + "\"";
    }
    if (!device.services.empty()) {
        line += " services " + uuidList(device.services);
    }
    return line;
}

} // namespace

int runScan(const CliOptions& cliOptions, EventPrinter& printer) {
    const ScanOptions options = parseScanOptions(cliOptions.arguments);
    Client client;
    client.open(cliOptions.host, cliOptions.port, Client::defaultConnectTimeout);
    const StatusEvent status = client.waitStatus(cliOptions.timeout);
    if (!status.ready()) {
        printer.error("the dongle is not ready (state " + std::to_string(status.conduitState) +
                      ", " + conduitStateName(status.conduitState) +
                      "); the service would refuse to scan");
        return ExitRefused;
    }
    std::vector<SeenDevice> devices; // in the order first seen
    std::map<BleAddress, size_t> deviceAt;
    client.startScan();
    const auto deadline = std::chrono::steady_clock::now() + options.duration;
    for (auto left = options.duration; left.count() > 0;
         left = std::chrono::duration_cast<std::chrono::milliseconds>(
             deadline - std::chrono::steady_clock::now())) {
        const std::optional<Event> event = client.nextEvent(left);
        if (event && std::holds_alternative<StatusEvent>(*event)) {
            printer.event(*event);
        }
        const auto* scan = event ? std::get_if<ScanResultEvent>(&*event) : nullptr;
        if (scan == nullptr) {
            continue;
        }
        const auto [entry, added] = deviceAt.try_emplace(scan->address, devices.size());
        if (added) {
            devices.push_back({scan->address, std::nullopt, 0, {}});
        }
        SeenDevice& device = devices[entry->second];
        merge(device, *scan);
        if (options.everyAdvertisement && matches(device, options)) {
            printer.event(*event);
        }
    }
    client.stopScan();
    if (!options.everyAdvertisement) {
        for (const SeenDevice& device : devices) {
            if (matches(device, options)) {
                printer.line(deviceLine(device, printer.printsJson()));
            }
        }
    }
    return ExitSuccess;
}

} // namespace linkrelay::cli
