// Service status on Linux: the systemd notification protocol. Running is reported as
// "READY=1" and stop pending as "STOPPING=1", each one datagram to the unix socket named
// by $NOTIFY_SOCKET (a leading '@' names an abstract socket). Without the variable
// nothing is sent. Registering a control handler always succeeds: the stop control is
// SIGTERM or SIGINT, received by the main thread.
#include "service/service_status.h"

#include "service/sd_notify.h"

bool registerControlHandler() {
    return true;
}

void reportStatus(const ServiceStatus& status) {
    switch (status.currentState) {
    case ServiceState::Running:
        sdNotify("READY=1");
        break;
    case ServiceState::StopPending:
        sdNotify("STOPPING=1");
        break;
    case ServiceState::StartPending:
    case ServiceState::Stopped:
        break;
    }
}
