// Power listener on Linux built without libsystemd: there is no system bus client, so
// suspend and resume are not watched. start logs one line saying so; the callbacks are
// never called.
//
// Threads: start and end are called by the service thread; there is no listener thread.
#include "service/power_listener.h"

#include "log/log.h"

struct PowerListener::State {};

PowerListener::PowerListener() : state(std::make_unique<State>()) {}

PowerListener::~PowerListener() = default;

void PowerListener::start() {
    logPrint(LogStamp::With, "power: built without libsystemd, suspend and resume not watched\n");
}

void PowerListener::end() {}
