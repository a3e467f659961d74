// The dongle's serial port as the conduit uses it: the process-wide `serialPort` (one
// dongle per process) and the transport functions on it.
//
// Threads and locks:
// - serialPort is set and reset only by the reader thread (ConduitBg::init and
//   closeSerialPort), always under the conduit lock. The reader thread reads from it
//   without the lock (the header read); every other use (writes, kickReader) happens
//   under the conduit lock, on whichever thread holds it.
// - The header bytes kept between reads (see serialRead) belong to the reader thread.
// - The write failure flag is set by serialWrite and cleared by closeSerialPort, both under
//   the conduit lock; serialPortFailed is read under it too.
#pragma once

#include "conduit/serial/serial_port.h"

#include <cstdint>
#include <memory>

// The open port, or null.
extern std::unique_ptr<SerialPort> serialPort;

// Reads exactly `count` bytes in rounds of SerialPort::readSome, each waiting up to
// `timeoutMs`. Returns `count` when all arrived; serialReadEmpty when a round came back
// empty; serialReadCancelled when kickReader ended it; serialReadError otherwise or
// without a port. Bytes that arrived before an empty or cancelled round are kept and
// handed out first by the next call, so a kick never knocks the stream out of step.
int serialRead(uint32_t count, uint8_t* bytes, unsigned timeoutMs);

// Writes all `count` bytes: true, or false on a write error or without a port. A write that
// fails (the port's own bound included: a dongle that stops draining its port) fails the
// port: the failure is logged once, the reader is kicked, and every later write fails at
// once without touching the port, until it is closed.
bool serialWrite(uint32_t count, const uint8_t* bytes);

// True once a write has failed the open port; the reader then closes it and opens the
// dongle again, as after an unplug.
bool serialPortFailed();

// The BGAPI output function (bgOutput): the packet, then the array data. A failure fails
// the port (serialWrite).
void writePacket(uint8_t length, const uint8_t* packet, uint16_t dataLength, const uint8_t* data);

// Closes and forgets the port, any kept bytes and a write failure, logging the outcome. A
// port is closed at most once: without an open port only the failure is logged.
void closeSerialPort();

// Ends the reader's pending read (or makes its next read end at once) so that queued
// work starts without waiting for a read timeout. Nothing happens without a port.
void kickReader();
