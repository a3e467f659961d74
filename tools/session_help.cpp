// Help texts of the session commands.
#include "tools/session_help.h"

#include <array>

namespace linkrelay::cli {

namespace {

struct CommandHelp {
    const char* name;
    const char* usage;
    const char* details;
};

constexpr std::array<CommandHelp, 16> commands = {{
    {"connect", "connect ADDRESS",
     "Connects to the device AA:BB:CC:DD:EE:FF and waits until the connection is made.\n"
     "Later commands act on this device."},
    {"services", "services", "Discovers the primary services of the device."},
    {"chars", "chars UUID...",
     "Looks up the characteristics with these UUIDs (180d or the 128-bit form) and\n"
     "prints the index of each one found. Later commands name a characteristic by that\n"
     "index or by its UUID."},
    {"read", "read CHAR", "Reads the value of a characteristic."},
    {"write", "write [--no-response] CHAR VALUE",
     "Writes VALUE (0xHEX, or \"text\" in double quotes) to a characteristic and waits\n"
     "until the write is done; --no-response sends it as write commands."},
    {"notify", "notify CHAR", "Subscribes to notifications of a characteristic."},
    {"indicate", "indicate CHAR", "Subscribes to indications of a characteristic."},
    {"unsubscribe", "unsubscribe CHAR", "Ends a subscription."},
    {"rssi", "rssi", "Reads the signal strength of the connection."},
    {"disconnect", "disconnect [ADDRESS]",
     "Disconnects the device (or ADDRESS) and waits until the connection has ended."},
    {"scan", "scan on|off", "Starts or stops scanning; scan results are printed as they come."},
    {"wait", "wait EVENT [COUNT]",
     "Waits until COUNT (default 1) events of a kind have arrived that no earlier command\n"
     "took as its answer, within the timeout. EVENT is one of status, scan, connected,\n"
     "service, characteristic, disconnected, write-done, value, rssi."},
    {"sleep", "sleep SECONDS", "Pauses while events keep being printed."},
    {"help", "help [COMMAND]", "Lists the commands, or explains one."},
    {"quit", "quit", "Ends the session (so do exit and the end of the input)."},
    {"exit", "exit", "Ends the session."},
}};

} // namespace

std::string sessionHelpText() {
    std::string text = "Session commands (CHAR is a characteristic index or UUID):\n";
    for (const CommandHelp& command : commands) {
        text += "  " + std::string(command.usage) + "\n";
    }
    return text;
}

std::optional<std::string> sessionCommandHelpText(const std::string& name) {
    for (const CommandHelp& command : commands) {
        if (name == command.name) {
            return "usage: " + std::string(command.usage) + "\n" + command.details + "\n";
        }
    }
    return std::nullopt;
}

} // namespace linkrelay::cli
