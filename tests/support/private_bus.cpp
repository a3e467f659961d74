// The private D-Bus daemon: dbus-daemon with a configuration file written by the test.
#include "private_bus.h"

#include <csignal>
#include <fstream>

namespace harness {

namespace {

constexpr auto startTimeout = std::chrono::seconds(10);
constexpr auto stopTimeout = std::chrono::seconds(5);

// Everything is allowed: the tests own logind's name and pass file descriptors.
std::string configuration(const std::string& socketPath) {
    return R"(<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <listen>unix:path=)" +
           socketPath + R"(</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_type="method_call"/>
    <allow send_type="method_return"/>
    <allow send_type="signal"/>
    <allow send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="signal"/>
    <allow receive_type="error"/>
  </policy>
</busconfig>
)";
}

} // namespace

PrivateBus::PrivateBus() {
    const std::string configPath = folder.file("bus.conf");
    const std::string addressPath = folder.file("address");
    std::ofstream(configPath) << configuration(folder.file("bus"));
    daemon = std::make_unique<ChildProcess>(ChildOptions{
        .program = "/usr/bin/dbus-daemon",
        .arguments = {"--config-file=" + configPath, "--nofork", "--print-address=1"},
        .setEnv = {},
        .unsetEnv = {},
        .stdoutPath = addressPath,
        .stderrPath = folder.file("daemon.err"),
    });
    // The daemon prints its address once it listens.
    std::string printed;
    waitUntil(
        [&] {
            printed = readFile(addressPath);
            return printed.find('\n') != std::string::npos;
        },
        startTimeout);
    if (printed.find('\n') != std::string::npos) {
        busAddress = printed.substr(0, printed.find('\n'));
    }
}

PrivateBus::~PrivateBus() {
    stop();
}

void PrivateBus::stop() {
    if (daemon != nullptr && daemon->sendSignal(SIGTERM)) {
        daemon->waitExit(stopTimeout);
    }
    daemon.reset();
}

} // namespace harness
