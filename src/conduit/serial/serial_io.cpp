// serialPort, reads that keep a partial header across a cancel or a timeout, packet
// writes, closing and the reader kick.
#include "conduit/serial/serial_io.h"

#include "log/log.h"

#include <algorithm>
#include <vector>

std::unique_ptr<SerialPort> serialPort;

namespace {

// Bytes of an unfinished read, handed out first by the next serialRead (reader thread).
std::vector<uint8_t> keptBytes;

// A write has failed on the open port: later writes fail at once (conduit lock).
bool writeFailed = false;

// Logged when closeSerialPort finds no open port.
constexpr int serialPortNotOpen = -1;

} // namespace

int serialRead(uint32_t count, uint8_t* bytes, unsigned timeoutMs) {
    uint32_t filled = 0;
    if (keptBytes.size() <= count) {
        std::copy(keptBytes.begin(), keptBytes.end(), bytes);
        filled = static_cast<uint32_t>(keptBytes.size());
    }
    keptBytes.clear();
    while (filled < count) {
        if (!serialPort) {
            return serialReadError;
        }
        const int result = serialPort->readSome(count - filled, bytes + filled, timeoutMs);
        if (result == serialReadEmpty || result == serialReadCancelled) {
            keptBytes.assign(bytes, bytes + filled);
            return result;
        }
        if (result < 0 || static_cast<uint32_t>(result) > count - filled) {
            return serialReadError;
        }
        filled += static_cast<uint32_t>(result);
    }
    return static_cast<int>(count);
}

bool serialWrite(uint32_t count, const uint8_t* bytes) {
    if (count == 0) {
        return true;
    }
    if (!serialPort || writeFailed) {
        return false;
    }
    if (serialPort->write(count, bytes) == 0) {
        return true;
    }
    logPrint(LogStamp::With, "writing to serial port failed\n");
    writeFailed = true;
    serialPort->cancelRead(); // the reader gives the port up without waiting for a read
    return false;
}

bool serialPortFailed() {
    return writeFailed;
}

void writePacket(uint8_t length, const uint8_t* packet, uint16_t dataLength, const uint8_t* data) {
    if (serialWrite(length, packet)) {
        serialWrite(dataLength, data);
    }
}

void closeSerialPort() {
    logPrint(LogStamp::With, "BG conduit: closing serial port\n");
    keptBytes.clear();
    writeFailed = false;
    if (!serialPort) {
        logPrint(LogStamp::With, "BG conduit: closing serial port failed, error: %d\n",
                 serialPortNotOpen);
        return;
    }
    const int error = serialPort->close();
    serialPort.reset();
    if (error == 0) {
        logPrint(LogStamp::With, "BG conduit: closed serial port successfully\n");
    } else {
        logPrint(LogStamp::With, "BG conduit: closing serial port failed, error: %d\n", error);
    }
}

void kickReader() {
    if (serialPort) {
        serialPort->cancelRead();
    }
}
