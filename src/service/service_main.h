// The service host's portable steps: the service main function and the control handler.
// The platform entry points (main_win32.cpp, main_linux.cpp) hand control to these.
//
// Threads: serviceMainSteps runs on the service thread; serviceControl runs on the
// thread that receives controls (the dispatcher's on Windows, the main thread on Linux).
// Both touch the status record and the stop event only under the service lock, so a
// repeated stop can neither overwrite the final "stopped" report nor signal an event
// that the service thread has already closed.
#pragma once

#include <cstdint>

// Control codes of the service manager.
constexpr uint32_t controlStop = 1;
constexpr uint32_t controlInterrogate = 4;
constexpr uint32_t controlShutdown = 5;

// The steps of the service main function, from registering to the final report.
void serviceMainSteps();

// The control handler: stop and shutdown signal the stop event, others are logged.
// Returns false for a stop or shutdown that found no stop event to signal (the service
// is not running yet, or has stopped); the caller may deliver it again later.
bool serviceControl(uint32_t control);
