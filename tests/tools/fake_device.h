// A fake service with one connectable device around, for the tool's tests: it answers
// each request the way the service does for a well-behaved peripheral.
//
// The device C0:11:22:33:44:55 ("Pulse") advertises 180d and sends its name in a scan
// response; D0:00:00:00:00:01 ("Thermo") advertises 1809. Services 1800 and 180d;
// characteristics 2a37 (index 0, notifies 0x0048 then 0x004a when subscribed) and 2a39
// (index 1, value 0x01).
//
// Threads: the responder runs on the fake server's thread; `refused` and `silent` are
// set before the tool runs.
#pragma once

#include "fake_gob_server.h"

#include <set>

struct FakeDevice {
    // Request types that end the client's connection, as a refusal does.
    std::set<uint8_t> refused;
    // Request types that get no answer at all.
    std::set<uint8_t> silent;

    std::vector<Bytes> answer(const Gob& request) const;
    FakeGobServer::Responder responder() const {
        return [this](const Gob& request) { return answer(request); };
    }
};
