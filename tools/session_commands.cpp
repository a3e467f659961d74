// The session commands: each checks its words, sends its request and waits for the
// answer, which the event thread has printed by then.
#include "tools/session.h"

#include "linkrelay/address_text.h"
#include "linkrelay/bytes_text.h"
#include "linkrelay/uuid_text.h"
#include "tools/cli_options.h"
#include "tools/session_help.h"

namespace linkrelay::cli {

namespace {

void expectCount(const std::vector<Word>& words, size_t low, size_t high, const char* usage) {
    if (words.size() < low || words.size() > high) {
        throw UsageError(std::string("usage: ") + usage);
    }
}

BleAddress addressOf(const Word& word) {
    const std::optional<BleAddress> address = parseAddress(word.text);
    if (!address) {
        throw UsageError("\"" + word.text + "\" is not an address like AA:BB:CC:DD:EE:FF");
    }
    return *address;
}

UuidRecord uuidOf(const Word& word) {
    const std::optional<UuidRecord> uuid = parseUuid(word.text);
    if (!uuid) {
        throw UsageError("\"" + word.text + "\" is not a UUID like 180d or " +
                         "0000180d-0000-1000-8000-00805f9b34fb");
    }
    return *uuid;
}

// 0xHEX, or quoted text.
std::vector<uint8_t> valueOf(const Word& word) {
    if (word.quoted) {
        return {word.text.begin(), word.text.end()};
    }
    const std::optional<std::vector<uint8_t>> bytes =
        word.text.starts_with("0x") ? parseHexBytes(word.text) : std::nullopt;
    if (!bytes) {
        throw UsageError("\"" + word.text + R"(" is not a value: write 0xHEX or "text")");
    }
    return *bytes;
}

EventMatcher matcherOfKind(const std::string& name) {
    std::optional<EventMatcher> matcher = matchNamed(name);
    if (!matcher) {
        throw UsageError("unknown event kind \"" + name + "\" (see help wait)");
    }
    return *matcher;
}

} // namespace

const BleAddress& Session::currentDevice() const {
    if (!device) {
        throw UsageError("no device: connect to one first");
    }
    return *device;
}

uint8_t Session::characteristicOf(const Word& word) const {
    if (const std::optional<long> index = parseNumber(word.text, 0, 255)) {
        return static_cast<uint8_t>(*index);
    }
    const std::optional<UuidRecord> uuid = parseUuid(word.text);
    if (!uuid) {
        throw UsageError("\"" + word.text + "\" is not a characteristic index or UUID");
    }
    const auto found = indexByUuid.find(formatUuid(fullUuid(*uuid)));
    if (found == indexByUuid.end()) {
        throw UsageError("characteristic " + word.text + " has not been found (use chars)");
    }
    return found->second;
}

void Session::connectCommand(const Words& words) {
    expectCount(words, 1, 1, "connect ADDRESS");
    const BleAddress address = addressOf(words[0]);
    if (device != address) {
        indexByUuid.clear();
    }
    device = address;
    client.connect(address);
    feed.waitFor(matchConnected(address), timeout, "connection to " + formatAddress(address));
}

void Session::servicesCommand(const Words& words) {
    expectCount(words, 0, 0, "services");
    const BleAddress& address = currentDevice();
    client.findServices(address);
    feed.waitBatch(matchServiceFound(address), timeout, discoverySettle,
                   "services of " + formatAddress(address));
}

void Session::charsCommand(const Words& words) {
    expectCount(words, 1, 255, "chars UUID...");
    const BleAddress& address = currentDevice();
    std::vector<UuidRecord> uuids;
    for (const Word& word : words) {
        uuids.push_back(uuidOf(word));
    }
    client.findAttributes(address, uuids);
    for (const Event& event :
         feed.waitBatch(matchCharacteristicFound(address), timeout, discoverySettle,
                        "characteristics of " + formatAddress(address))) {
        const auto& found = std::get<CharacteristicFoundEvent>(event);
        indexByUuid[formatUuid(fullUuid(found.uuid))] = found.index;
    }
}

void Session::readCommand(const Words& words) {
    expectCount(words, 1, 1, "read CHAR");
    const BleAddress& address = currentDevice();
    const uint8_t index = characteristicOf(words[0]);
    client.read(address, index);
    feed.waitFor(matchValue(address, index), timeout,
                 "value of characteristic " + std::to_string(index));
}

void Session::writeCommand(const Words& words) {
    const bool withResponse = words.empty() || words[0].quoted || words[0].text != "--no-response";
    const Words operands(words.begin() + (withResponse ? 0 : 1), words.end());
    expectCount(operands, 2, 2, "write [--no-response] CHAR VALUE");
    const BleAddress& address = currentDevice();
    const uint8_t index = characteristicOf(operands[0]);
    const std::vector<uint8_t> value = valueOf(operands[1]);
    client.write(address, index, value, withResponse);
    awaitWriteDone();
}

void Session::notifyCommand(const Words& words) {
    expectCount(words, 1, 1, "notify CHAR");
    const BleAddress& address = currentDevice();
    client.notify(address, characteristicOf(words[0]));
    awaitWriteDone();
}

void Session::indicateCommand(const Words& words) {
    expectCount(words, 1, 1, "indicate CHAR");
    const BleAddress& address = currentDevice();
    client.indicate(address, characteristicOf(words[0]));
    awaitWriteDone();
}

void Session::unsubscribeCommand(const Words& words) {
    expectCount(words, 1, 1, "unsubscribe CHAR");
    const BleAddress& address = currentDevice();
    client.unsubscribe(address, characteristicOf(words[0]));
    awaitWriteDone();
}

void Session::awaitWriteDone() {
    feed.waitFor(matchWriteDone(*device), timeout, "write done for " + formatAddress(*device));
}

void Session::rssiCommand(const Words& words) {
    expectCount(words, 0, 0, "rssi");
    const BleAddress& address = currentDevice();
    client.getRssi(address);
    feed.waitFor(matchRssi(address), timeout, "RSSI of " + formatAddress(address));
}

void Session::disconnectCommand(const Words& words) {
    expectCount(words, 0, 1, "disconnect [ADDRESS]");
    const BleAddress address = words.empty() ? currentDevice() : addressOf(words[0]);
    client.disconnect(address);
    feed.waitFor(matchDisconnected(address), timeout, "disconnection of " + formatAddress(address));
    if (device == address) {
        indexByUuid.clear();
    }
}

void Session::scanCommand(const Words& words) {
    expectCount(words, 1, 1, "scan on|off");
    if (words[0].text == "on") {
        client.startScan();
    } else if (words[0].text == "off") {
        client.stopScan();
    } else {
        throw UsageError("usage: scan on|off");
    }
}

void Session::waitCommand(const Words& words) {
    expectCount(words, 1, 2, "wait EVENT [COUNT]");
    const EventMatcher matcher = matcherOfKind(words[0].text);
    const std::optional<long> count =
        words.size() == 2 ? parseNumber(words[1].text, 1, 1000000) : 1;
    if (!count) {
        throw UsageError("usage: wait EVENT [COUNT]");
    }
    for (long taken = 0; taken < *count; ++taken) {
        feed.waitFor(matcher, timeout, words[0].text + " event");
    }
}

void Session::sleepCommand(const Words& words) {
    expectCount(words, 1, 1, "sleep SECONDS");
    const std::optional<std::chrono::milliseconds> duration = parseSeconds(words[0].text);
    if (!duration) {
        throw UsageError("usage: sleep SECONDS");
    }
    feed.sleepFor(*duration);
}

void Session::helpCommand(const Words& words) {
    expectCount(words, 0, 1, "help [COMMAND]");
    if (words.empty()) {
        printer.note(sessionHelpText());
        return;
    }
    const std::optional<std::string> text = sessionCommandHelpText(words[0].text);
    if (!text) {
        throw UsageError("no command \"" + words[0].text + "\"");
    }
    printer.note(*text);
}

void Session::quitCommand(const Words& words) {
    expectCount(words, 0, 0, "quit");
    quitRequested = true;
}

} // namespace linkrelay::cli
