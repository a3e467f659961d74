// Power listener on Windows: a hidden top-level window of class "KVT power listener" on a
// thread of its own, receiving WM_POWERBROADCAST. Suspend (4) calls the suspend
// callback, automatic resume (18) the resume callback, both inside the window procedure.
//
// Threads: the listener thread registers the class, creates the window, publishes its
// handle and runs the message loop. start and end run on the service thread. `lock`
// guards `window` and `settled`; end waits until the listener has settled (window made
// or creation failed), so the close message reaches the window even when end follows
// start at once. end sends WM_CLOSE without holding `lock`: a callback running on the
// listener thread delays the close until it returns.
#include "service/power_listener.h"

#include "log/log.h"
#include "service/power_callbacks.h"
#include "service/service_options.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <windows.h>

namespace {

constexpr const wchar_t* windowClassName = L"KVT power listener";
constexpr WPARAM suspendBroadcast = 4; // PBT_APMSUSPEND
constexpr WPARAM resumeBroadcast = 18; // PBT_APMRESUMEAUTOMATIC

LRESULT CALLBACK powerWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    if (message == WM_POWERBROADCAST) {
        if (wParam == suspendBroadcast) {
            callSuspendHandler();
        } else if (wParam == resumeBroadcast) {
            callResumeHandler();
        }
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND createListenerWindow() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_VREDRAW | CS_HREDRAW;
    windowClass.lpfnWndProc = powerWndProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    // A system colour index + 1 stands for that colour's brush.
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = windowClassName;
    windowClass.hIconSm = LoadIconW(nullptr, IDI_APPLICATION);
    RegisterClassExW(&windowClass);
    return CreateWindowExW(0, windowClassName, windowClassName, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                           0, CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
}

void runMessageLoop() {
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0 && message.message != WM_QUIT) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

} // namespace

struct PowerListener::State {
    std::mutex lock;              // guards window and settled
    std::condition_variable wake; // notified when settled becomes true
    HWND window = nullptr;        // the listener window, null until made or when it failed
    bool settled = false;         // the listener thread has made its window or given up
    std::thread thread;           // the listener thread; touched by the service thread only
};

PowerListener::PowerListener() : state(std::make_unique<State>()) {}

PowerListener::~PowerListener() {
    end();
}

void PowerListener::start() {
    state->thread = std::thread([this] {
        const HWND window = createListenerWindow();
        const DWORD error = window == nullptr ? GetLastError() : 0;
        {
            const std::lock_guard<std::mutex> guard(state->lock);
            state->window = window;
            state->settled = true;
        }
        state->wake.notify_all();
        if (window == nullptr) {
            logPrint(LogStamp::With,
                     "service: power listener: no window (error %lu), suspend and resume "
                     "not watched\n",
                     error);
            return;
        }
        // In a console the window would show on the user's desktop; as a service it sits
        // on the service desktop, where nobody sees it.
        ShowWindow(window, serviceOptions().console ? SW_HIDE : SW_SHOWDEFAULT);
        UpdateWindow(window);
        runMessageLoop();
    });
}

void PowerListener::end() {
    if (!state->thread.joinable()) {
        return;
    }
    HWND window = nullptr;
    {
        std::unique_lock<std::mutex> guard(state->lock);
        state->wake.wait(guard, [this] { return state->settled; });
        window = state->window;
    }
    if (window != nullptr) {
        SendMessageW(window, WM_CLOSE, 0, 0);
    }
    state->thread.join();
}
