// Calls into the process-wide suspend and resume slots, for the platform listeners.
// Called on the listener thread; an empty slot calls nothing.
#pragma once

#include "service/power_listener.h"

void callSuspendHandler();
void callResumeHandler();
