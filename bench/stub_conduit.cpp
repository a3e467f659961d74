// The dongle-less conduit. See stub_conduit.h.
#include "stub_conduit.h"

#include "gob/gob_events.h"
#include "mux/mux.h"

bool StubConduit::connect(const BleAddress& address, uint32_t /*connIntervalMin*/,
                          uint32_t /*connIntervalMax*/, uint32_t /*supervisionTimeout*/,
                          uint32_t /*slaveLatency*/) {
    Gob gob;
    buildConnectedGob(gob, address);
    mux->postEvent(gob);
    return true;
}
