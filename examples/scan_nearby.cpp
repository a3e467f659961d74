// scan_nearby: asks the linkrelay service to scan for a few seconds, then prints each
// device it heard from: the address, the signal strength of its latest advertisement and
// its name when it sent one.
//
//   scan_nearby [HOST [PORT]]     (default 127.0.0.1 9089)
#include <linkrelay/address_text.h>
#include <linkrelay/client.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>

struct Device {
    int rssi = 0; // dBm
    std::string name;
};

int main(int argc, char** argv) {
    const std::string host = argc > 1 ? argv[1] : linkrelay::Client::defaultHost;
    const auto port =
        static_cast<uint16_t>(argc > 2 ? std::atoi(argv[2]) : linkrelay::Client::defaultPort);
    const auto scanTime = std::chrono::seconds(3);

    std::map<linkrelay::BleAddress, Device> devices;
    try {
        linkrelay::Client client;
        client.open(host, port);
        // The service greets every session with the state of its dongle.
        if (!client.waitStatus(std::chrono::seconds(5)).ready()) {
            std::cerr << "scan_nearby: the service's dongle is not ready\n";
            return 1;
        }

        client.startScan();
        const auto end = std::chrono::steady_clock::now() + scanTime;
        for (auto now = std::chrono::steady_clock::now(); now < end;
             now = std::chrono::steady_clock::now()) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now);
            const std::optional<linkrelay::Event> event = client.nextEvent(left);
            const auto* scan = event ? std::get_if<linkrelay::ScanResultEvent>(&*event) : nullptr;
            if (scan == nullptr) {
                continue;
            }
            Device& device = devices[scan->address];
            device.rssi = scan->rssi;
            if (const std::optional<std::string> name = scan->advertising.name()) {
                device.name = *name;
            }
        }
        client.stopScan();
    } catch (const linkrelay::ClientError& error) {
        std::cerr << "scan_nearby: " << error.what() << '\n';
        return 1;
    }

    std::cout << devices.size() << " devices found\n";
    for (const auto& [address, device] : devices) {
        std::cout << linkrelay::formatAddress(address) << "  rssi " << device.rssi << " dBm  "
                  << device.name << '\n';
    }
    return 0;
}
