// The platform's port sources: the search and a fixed port.
//
// Threads: see serial_source.h; the sources hold no state that changes.
#include "conduit/serial/serial_source.h"

#include "conduit/serial/port_discovery.h"
#include "conduit/serial/serial_port_platform.h"

#include <utility>

namespace {

class SearchingSource : public SerialPortSource {
public:
    std::string find() override { return findDonglePort(); }
    std::unique_ptr<SerialPort> open(const std::string& name) override {
        return openSerialPort(name);
    }
    std::string openFailure() override { return lastOpenFailure(); }
};

class FixedPortSource : public SerialPortSource {
public:
    explicit FixedPortSource(std::string fixedPath) : path(std::move(fixedPath)) {}

    std::string find() override { return serialPortExists(path) ? path : std::string(); }
    std::unique_ptr<SerialPort> open(const std::string& name) override {
        return openSerialPort(name);
    }
    std::string openFailure() override { return lastOpenFailure(); }

private:
    const std::string path;
};

} // namespace

std::unique_ptr<SerialPortSource> makeSearchingPortSource() {
    return std::make_unique<SearchingSource>();
}

std::unique_ptr<SerialPortSource> makeFixedPortSource(std::string path) {
    return std::make_unique<FixedPortSource>(std::move(path));
}
