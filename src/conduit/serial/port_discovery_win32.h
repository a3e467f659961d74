// The Windows search for the dongle: the present Ports-class devices through SetupDi.
//
// Threads: a plain function; any thread.
#pragma once

// The COM port number of the first present port whose friendly name is the dongle's
// ("Bluegiga Bluetooth Low Energy (COM7)"), or -1.
int findSerialPort();
