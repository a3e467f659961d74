// Program entry on Windows.
//
// As a service: the main thread hands itself to the service control dispatcher, which
// runs serviceMain on a service thread and delivers stop and shutdown controls to the
// control handler on this thread. With --console: the same service steps run on a
// thread of their own while this thread waits for them; Ctrl+C, Ctrl+Break and closing
// the console are the stop control: the console's handler thread only raises
// `stopWanted`, and this thread delivers it to serviceControl, again every 100 ms until
// the service has a stop event to signal, so an early Ctrl+C is not lost.
#include "log/log.h"
#include "service/build_info.h"
#include "service/service_main.h"
#include "service/service_options.h"

#include <atomic>
#include <cstdio>
#include <thread>
#include <windows.h>

namespace {

std::atomic<bool> stopWanted{false};   // raised by the console's handler thread
std::atomic<bool> serviceEnded{false}; // raised when the console's service steps end

VOID WINAPI serviceMain(DWORD /*argc*/, LPWSTR* /*argv*/) {
    serviceMainSteps();
}

BOOL WINAPI consoleCtrlHandler(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    stopWanted.store(true);
    if (event == CTRL_CLOSE_EVENT) {
        // The process ends when this returns (or when the console's time limit runs out):
        // let the service steps finish first.
        while (!serviceEnded.load()) {
            Sleep(100);
        }
    }
    return TRUE;
}

void dispatchService() {
    wchar_t serviceName[] = L"ZunaBluetoothService";
    const SERVICE_TABLE_ENTRYW table[] = {{serviceName, serviceMain}, {nullptr, nullptr}};
    logPrint(LogStamp::With, "service: calling StartServiceCtrlDispatcher\n");
    StartServiceCtrlDispatcherW(table);
}

void runInConsole() {
    logPrint(LogStamp::With, "service: running in the console, Ctrl+C stops\n");
    SetConsoleCtrlHandler(consoleCtrlHandler, TRUE);
    std::thread service([] {
        serviceMainSteps();
        serviceEnded.store(true);
    });
    bool stopPending = false;
    while (!serviceEnded.load()) {
        Sleep(100);
        stopPending = stopWanted.exchange(false) || stopPending;
        if (stopPending) {
            stopPending = !serviceControl(controlStop);
        }
    }
    service.join();
    SetConsoleCtrlHandler(consoleCtrlHandler, FALSE);
}

} // namespace

int main(int argc, char** argv) {
    ServiceOptions options;
    std::string error;
    if (!parseServiceOptions({argv + 1, argv + argc}, options, error)) {
        std::fprintf(stderr, "linkrelay: %s\n%s", error.c_str(), serviceUsage(true).c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(serviceUsage(true).c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("%s\n", versionLine().c_str());
        return 0;
    }
    setServiceOptions(options);
    logOpen();
    if (options.console) {
        runInConsole();
    } else {
        dispatchService();
    }
    logClose();
    return 0;
}
