// linkrelay-sim: the simulated dongle behind a pseudo-terminal, for running the service
// (or any BGAPI host) without hardware. Prints the port's path, then takes control
// commands on standard input and on a control socket until SIGINT or SIGTERM, or
// "quit" on standard input.
//
// Threads: the main thread parses the options, then polls standard input, the control
// socket and a signalfd; the PtyDriver runs the device on a thread of its own.
#include "sim/control_socket.h"
#include "sim/peripheral_text.h"
#include "sim/pty_driver.h"
#include "sim/sim_control.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/signalfd.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr const char* usage =
    "usage: linkrelay-sim [options]\n"
    "\n"
    "Runs a simulated BLE dongle (BGAPI v1) behind a pseudo-terminal and prints the path\n"
    "of its port, a symbolic link that always points at the current pseudo-terminal. A\n"
    "reset makes the dongle leave the bus: the link goes away and comes back, pointing at\n"
    "a new pseudo-terminal, after the re-enumeration delay; as on hardware, the boot event\n"
    "reaches nobody (a host probes readiness with system_hello). system_reset(1) and\n"
    "dfu_reset (boot into firmware update) are not simulated: the dongle boots into its\n"
    "normal program, as after system_reset(0).\n"
    "\n"
    "Timing is the module's by default: GATT discoveries take one connection interval per\n"
    "ATT round at the default MTU of 23, and scanning hears advertisements only in its\n"
    "scan windows. --instant answers discoveries in one interval and reports every\n"
    "advertising event, for tests about something else.\n"
    "\n"
    "options:\n"
    "  --link PATH             the port's link (default /tmp/linkrelay-sim.tty)\n"
    "  --control PATH          the control socket (default: the link with .control)\n"
    "  --peripherals FILE      add the virtual peripherals described in FILE\n"
    "  --no-builtin            leave out the built-in peripherals\n"
    "  --max-connections N     connection limit, 1 to 8 (default 3)\n"
    "  --reenumerate-ms MS     how long a reset keeps the dongle off the bus (default 1000)\n"
    "  --refuse-connect-while-scanning  answer gap_connect_direct during discovery with 0x0181\n"
    "  --confirm-indications   send indications as type 5, to be confirmed by the host\n"
    "  --seed N                seed of the RSSI variation and garbage bytes (default 1)\n"
    "  --instant               fast answers: one-round discoveries, no scan windows\n"
    "  --help                  this text\n"
    "\n"
    "A peripheral file (--peripherals) has one statement per line, '#' starting a comment;\n"
    "the lines after a \"peripheral\" line describe that peripheral, for example:\n"
    "  peripheral D0:2B:20:11:30:08 My Tag\n"
    "  address-type random\n"
    "  bondable\n"
    "  adv 02 01 06\n"
    "  service 180f\n"
    "  characteristic 2a19 read notify value 64\n"
    "\"address-type random\" makes it accept a connect only with address type 1 (default\n"
    "public, 0); \"bondable\" makes it pair and bond on sm_encrypt_start (default: it\n"
    "refuses). Other statements: interval MS, rssi DBM, scan-response HEX,\n"
    "not-connectable, out-of-range; characteristic words: write, write-no-response,\n"
    "indicate, echo, every MS, sequence HEX,HEX,...\n"
    "\n"
    "Control commands, one per line on standard input or the control socket (for\n"
    "example: echo 'busy 3' | socat - UNIX-CONNECT:/tmp/linkrelay-sim.tty.control);\n"
    "\"quit\" on standard input ends the program:\n";

struct Options {
    sim::SimConfig config;
    std::string link = "/tmp/linkrelay-sim.tty";
    std::string control;
    std::string peripheralFile;
    bool builtin = true;
};

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "linkrelay-sim: %s\n", message.c_str());
    std::exit(2);
}

long numberArgument(const char* text) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 0);
    if (*text == '\0' || *end != '\0') {
        fail(std::string("bad number ") + text);
    }
    return value;
}

Options parseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const auto argument = [&]() -> const char* {
            if (i + 1 >= argc) {
                fail(option + " needs an argument");
            }
            return argv[++i];
        };
        if (option == "--help") {
            std::printf("%s%s", usage, sim::controlHelp());
            std::exit(0);
        } else if (option == "--link") {
            options.link = argument();
        } else if (option == "--control") {
            options.control = argument();
        } else if (option == "--peripherals") {
            options.peripheralFile = argument();
        } else if (option == "--no-builtin") {
            options.builtin = false;
        } else if (option == "--max-connections") {
            const long count = numberArgument(argument());
            if (count < 1 || count > 8) {
                fail("--max-connections takes 1 to 8");
            }
            options.config.maxConnections = static_cast<int>(count);
        } else if (option == "--reenumerate-ms") {
            options.config.reenumerateDelayMs = static_cast<uint32_t>(numberArgument(argument()));
        } else if (option == "--refuse-connect-while-scanning") {
            options.config.refuseConnectWhileDiscovering = true;
        } else if (option == "--confirm-indications") {
            options.config.confirmIndications = true;
        } else if (option == "--instant") {
            options.config.instant = true;
        } else if (option == "--seed") {
            options.config.seed = static_cast<uint32_t>(numberArgument(argument()));
        } else {
            fail("unknown option " + option + " (see --help)");
        }
    }
    if (options.control.empty()) {
        options.control = options.link + ".control";
    }
    return options;
}

std::vector<sim::PeripheralSpec> loadPeripherals(const Options& options) {
    std::vector<sim::PeripheralSpec> peripherals;
    if (options.builtin) {
        peripherals = sim::builtinPeripherals();
    }
    if (!options.peripheralFile.empty()) {
        std::ifstream file(options.peripheralFile);
        if (!file) {
            fail("cannot read " + options.peripheralFile);
        }
        std::stringstream text;
        text << file.rdbuf();
        try {
            for (auto& profile : sim::parsePeripherals(text.str())) {
                peripherals.push_back(std::move(profile));
            }
        } catch (const std::exception& error) {
            fail(options.peripheralFile + ": " + error.what());
        }
    }
    return peripherals;
}

int signalDescriptor() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signalfd(-1, &signals, SFD_CLOEXEC);
}

// Runs the lines of standard input; false once "quit" was read.
bool readStandardInput(sim::PtyDriver& driver, std::string& pending, bool& open) {
    char buffer[1024];
    const ssize_t count = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (count <= 0) {
        open = false;
        return true;
    }
    pending.append(buffer, static_cast<size_t>(count));
    size_t end = 0;
    while ((end = pending.find('\n')) != std::string::npos) {
        const std::string line = pending.substr(0, end);
        pending.erase(0, end + 1);
        if (line == "quit") {
            return false;
        }
        std::fputs(driver.control(line).c_str(), stdout);
        std::fflush(stdout);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const Options options = parseOptions(argc, argv);
    const int signals = signalDescriptor();
    sim::PtyDriver driver(options.config, loadPeripherals(options), options.link);
    std::string error;
    if (!driver.start(error)) {
        fail(error);
    }
    sim::ControlSocket control(options.control);
    if (!control.open(error)) {
        fail(error);
    }
    std::printf("linkrelay-sim: port %s -> %s\n", driver.linkPath().c_str(),
                driver.slavePath().c_str());
    std::printf("linkrelay-sim: control socket %s\n", control.path().c_str());
    std::fflush(stdout);

    bool stdinOpen = true;
    std::string pending;
    const auto run = [&driver](std::string_view line) { return driver.control(line); };
    while (true) {
        std::vector<pollfd> fds = {{signals, POLLIN, 0}};
        if (stdinOpen) {
            fds.push_back({STDIN_FILENO, POLLIN, 0});
        }
        control.pollFds(fds);
        ::poll(fds.data(), fds.size(), -1);
        if ((fds[0].revents & POLLIN) != 0) {
            break;
        }
        if (stdinOpen && fds[1].revents != 0 && !readStandardInput(driver, pending, stdinOpen)) {
            break;
        }
        control.handle(fds, run);
    }
    return 0;
}
