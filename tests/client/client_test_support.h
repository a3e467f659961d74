// Shared pieces of the client's session tests: the device address used throughout, its
// wire bytes, and a client opened on a fake service.
#pragma once

#include "event_frames.h"
#include "fake_gob_server.h"
#include "linkrelay/address_text.h"
#include "linkrelay/client.h"

#include <chrono>

inline const BleAddress testDevice = *linkrelay::parseAddress("C0:11:22:33:44:55");
// testDevice as the wire carries it: the dongle's order.
inline const Bytes testDeviceWire = {0x55, 0x44, 0x33, 0x22, 0x11, 0xC0};

inline constexpr std::chrono::milliseconds patience{5000};

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// A service that greets with a ready status, and a client connected to it.
struct FakeServiceFixture {
    FakeGobServer server{statusFrame(1, 0)};
    linkrelay::Client client;

    FakeServiceFixture() { client.open("127.0.0.1", server.port(), patience); }
};
