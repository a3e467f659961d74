// The Windows serial port: a COM port opened for synchronous reading and writing.
//
// Each read sets the port's timeouts so that ReadFile returns what arrived within the
// read's time (ReadIntervalTimeout MAXDWORD, ReadTotalTimeoutConstant the timeout). The
// write timeout is always serialWriteLimitMs (WriteTotalTimeoutConstant), set at open and
// kept by every read: a WriteFile that has not written everything by then returns with
// fewer bytes, and the write fails, as on Linux. cancelRead cancels the pending ReadFile
// with CancelIoEx, whose aborted read fails with ERROR_OPERATION_ABORTED; it also leaves
// a flag for a read that has not begun yet, so that a kick is never lost between two
// reads (Windows cancels only what is pending).
//
// Threads: the reader thread reads and closes, the mux thread writes and cancels (both
// under the conduit lock, so close never overlaps a write or a cancel). handle is set
// at open and changed only by close; kicked is atomic.
#include "conduit/serial/serial_port_platform.h"

#include <windows.h>

#include <atomic>

namespace {

// Reads return what arrived within `readMs`; writes end after serialWriteLimitMs.
bool setTimeouts(HANDLE handle, DWORD readMs) {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = readMs;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = serialWriteLimitMs;
    return SetCommTimeouts(handle, &timeouts) != 0;
}

class Win32SerialPort : public SerialPort {
public:
    explicit Win32SerialPort(HANDLE opened) : handle(opened) {}
    ~Win32SerialPort() override { close(); }
    Win32SerialPort(const Win32SerialPort&) = delete;
    Win32SerialPort& operator=(const Win32SerialPort&) = delete;

    int readSome(uint32_t max, uint8_t* bytes, unsigned timeoutMs) override {
        if (kicked.exchange(false)) {
            return serialReadCancelled;
        }
        setTimeouts(handle, timeoutMs);
        DWORD got = 0;
        if (!ReadFile(handle, bytes, max, &got, nullptr)) {
            const DWORD error = GetLastError();
            if (error == 0) {
                return serialReadEmpty;
            }
            if (error == ERROR_OPERATION_ABORTED) {
                kicked.store(false); // this kick has done its work
                return serialReadCancelled;
            }
            return serialReadError;
        }
        return static_cast<int>(got); // 0: the round came back empty
    }

    // One WriteFile bounded by the write timeout: fewer bytes than asked means the time
    // ran out, and the write has failed.
    int write(uint32_t count, const uint8_t* bytes) override {
        DWORD written = 0;
        if (!WriteFile(handle, bytes, count, &written, nullptr) || written != count) {
            return -1;
        }
        return 0;
    }

    void cancelRead() override {
        kicked.store(true);
        CancelIoEx(handle, nullptr);
    }

    int close() override {
        if (handle == INVALID_HANDLE_VALUE) {
            return ERROR_INVALID_HANDLE;
        }
        const HANDLE closing = handle;
        handle = INVALID_HANDLE_VALUE;
        return CloseHandle(closing) ? 0 : static_cast<int>(GetLastError());
    }

private:
    HANDLE handle;                   // INVALID_HANDLE_VALUE once closed
    std::atomic<bool> kicked{false}; // a kick that no aborted read has taken yet
};

// "COM7" becomes "\\.\COM7"; a name that already is a device path stays as it is.
std::string devicePath(const std::string& name) {
    const std::string prefix = "\\\\.\\";
    return name.rfind(prefix, 0) == 0 ? name : prefix + name;
}

thread_local std::string openFailure; // lastOpenFailure's text

} // namespace

std::unique_ptr<SerialPort> openSerialPort(const std::string& name) {
    openFailure.clear();
    const HANDLE handle =
        CreateFileA(devicePath(name).c_str(), GENERIC_READ | GENERIC_WRITE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        openFailure = "CreateFileA: Windows error " + std::to_string(GetLastError());
        return nullptr;
    }
    // Without timeouts a write to a stuck dongle would never end: such a port is refused.
    if (!setTimeouts(handle, 0)) {
        openFailure = "SetCommTimeouts: Windows error " + std::to_string(GetLastError());
        CloseHandle(handle);
        return nullptr;
    }
    return std::make_unique<Win32SerialPort>(handle);
}

std::string lastOpenFailure() {
    return openFailure;
}

bool serialPortExists(const std::string&) {
    return true;
}
