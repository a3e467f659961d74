// The dongle's friendly name among the Windows Ports-class devices: "Bluegiga Bluetooth
// Low Energy (COM7)" names the dongle on COM7.
//
// Threads: plain functions; any thread.
#pragma once

// The COM port number that `friendlyName` gives the dongle, or -1 when the name is not
// the dongle's. Only the text up to the number must match (the pattern's blank matches
// any run of white space, also none); what follows the number does not matter.
int dongleComPort(const char* friendlyName);
