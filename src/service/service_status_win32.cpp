// Service status on Windows: the control handler registered with RegisterServiceCtrlHandlerW
// and the status reported with SetServiceStatus.
//
// In console mode (--console) there is no service manager: registering succeeds without
// it and reports go nowhere; the console's Ctrl+C handler delivers the stop control.
//
// Threads: registerControlHandler runs on the service thread; reportStatus on the service
// thread and on the dispatcher's thread (in serviceControl), always under the service
// lock of service_main.cpp. serviceCtrlHandler runs on the dispatcher's thread.
#include "service/service_status.h"

#include "service/service_main.h"
#include "service/service_options.h"

#include <atomic>
#include <windows.h>

namespace {

// Written by registerControlHandler before the stop event exists, read by reportStatus.
std::atomic<SERVICE_STATUS_HANDLE> statusHandle{nullptr};

VOID WINAPI serviceCtrlHandler(DWORD control) {
    serviceControl(control);
}

} // namespace

bool registerControlHandler() {
    if (serviceOptions().console) {
        return true;
    }
    const SERVICE_STATUS_HANDLE handle =
        RegisterServiceCtrlHandlerW(L"ZunaBluetoothService", serviceCtrlHandler);
    statusHandle.store(handle);
    return handle != nullptr;
}

void reportStatus(const ServiceStatus& status) {
    const SERVICE_STATUS_HANDLE handle = statusHandle.load();
    if (handle == nullptr) {
        return;
    }
    SERVICE_STATUS record{};
    record.dwServiceType = status.serviceType;
    record.dwCurrentState = static_cast<DWORD>(status.currentState);
    record.dwControlsAccepted = status.controlsAccepted;
    record.dwWin32ExitCode = status.win32ExitCode;
    record.dwServiceSpecificExitCode = status.serviceExitCode;
    record.dwCheckPoint = status.checkPoint;
    record.dwWaitHint = status.waitHint;
    SetServiceStatus(handle, &record);
}
