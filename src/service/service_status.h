// The service's state as reported to the service manager, and the platform seam that
// reports it: SetServiceStatus on Windows, the sd_notify datagram on Linux.
#pragma once

#include <cstdint>

enum class ServiceState : uint32_t {
    Stopped = 1,
    StartPending = 2,
    StopPending = 3,
    Running = 4,
};

// Controls the service accepts while running: stop (1) together with shutdown (4).
constexpr uint32_t acceptStopAndShutdown = 5;

// The status record, fields in the platform's order. The exit codes, check point and
// wait hint stay 0 throughout.
struct ServiceStatus {
    uint32_t serviceType = 48; // own-process (16) together with share-process (32)
    ServiceState currentState = ServiceState::Stopped;
    uint32_t controlsAccepted = 0;
    uint32_t win32ExitCode = 0;
    uint32_t serviceExitCode = 0;
    uint32_t checkPoint = 0;
    uint32_t waitHint = 0;
};

// Registers the control handler with the service manager; false when it refuses.
bool registerControlHandler();

// Reports `status` to the service manager.
void reportStatus(const ServiceStatus& status);
