// The Windows power listener: its window, the routing of power broadcasts to the two
// callbacks, and ending it from another thread in every phase of its life.
//
// Threads: the test thread starts and ends the listener and sends it messages; the
// callbacks run on the listener thread and only touch atomics.
#include "service/power_listener.h"
#include "wait_until.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <windows.h>

namespace {

// The listener window of this process, or null. Other test processes running at the
// same time may have listener windows of their own, so FindWindowW would not do.
HWND ownListenerWindow() {
    struct Search {
        HWND found = nullptr;
    } search;
    EnumWindows(
        [](HWND window, LPARAM context) -> BOOL {
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            wchar_t className[64] = {};
            GetClassNameW(window, className, 64);
            if (process == GetCurrentProcessId() &&
                std::wstring(className) == L"KVT power listener") {
                // EnumWindows hands back the pointer it was given as an integer.
                // NOLINTNEXTLINE(performance-no-int-to-ptr)
                reinterpret_cast<Search*>(context)->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Waits (at most 10 s) for the listener thread to create its window.
HWND awaitListenerWindow() {
    HWND window = nullptr;
    harness::waitUntil([&] { return (window = ownListenerWindow()) != nullptr; },
                       std::chrono::seconds(10));
    return window;
}

class PowerListenerWin32 : public testing::Test {
protected:
    void SetUp() override {
        setSuspendHandler([this] { ++suspends; });
        setResumeHandler([this] { ++resumes; });
    }
    void TearDown() override {
        setSuspendHandler({});
        setResumeHandler({});
    }

    std::atomic<int> suspends{0};
    std::atomic<int> resumes{0};
};

TEST_F(PowerListenerWin32, WindowCarriesTheListenerClassAndTitle) {
    PowerListener listener;
    listener.start();
    const HWND window = awaitListenerWindow();
    ASSERT_NE(window, nullptr);
    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    EXPECT_EQ(std::wstring(title), L"KVT power listener");
    // The window belongs to the listener's own thread, not to the one that started it.
    EXPECT_NE(GetWindowThreadProcessId(window, nullptr), GetCurrentThreadId());
    listener.end();
}

TEST_F(PowerListenerWin32, SuspendAndAutomaticResumeCallTheirCallbacksOnce) {
    PowerListener listener;
    listener.start();
    const HWND window = awaitListenerWindow();
    ASSERT_NE(window, nullptr);

    SendMessageW(window, WM_POWERBROADCAST, 4, 0);
    EXPECT_EQ(suspends.load(), 1);
    EXPECT_EQ(resumes.load(), 0);

    SendMessageW(window, WM_POWERBROADCAST, 18, 0);
    EXPECT_EQ(suspends.load(), 1);
    EXPECT_EQ(resumes.load(), 1);
    listener.end();
}

TEST_F(PowerListenerWin32, OtherBroadcastsCallNeitherCallback) {
    PowerListener listener;
    listener.start();
    const HWND window = awaitListenerWindow();
    ASSERT_NE(window, nullptr);

    // 7: resume after a user-triggered suspend; 10: power status change; 0x8013: setting.
    for (const WPARAM event : {WPARAM{7}, WPARAM{10}, WPARAM{0x8013}}) {
        SendMessageW(window, WM_POWERBROADCAST, event, 0);
    }
    EXPECT_EQ(suspends.load(), 0);
    EXPECT_EQ(resumes.load(), 0);
    listener.end();
}

TEST_F(PowerListenerWin32, EndDestroysTheWindowAndEndsTheThread) {
    PowerListener listener;
    listener.start();
    const HWND window = awaitListenerWindow();
    ASSERT_NE(window, nullptr);
    listener.end();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(ownListenerWindow(), nullptr);
}

TEST_F(PowerListenerWin32, EndRightAfterStartReachesTheWindow) {
    // The listener may not have created its window yet when end is called; end must
    // still close it, or it would wait for the thread forever.
    for (int round = 0; round < 20; ++round) {
        PowerListener listener;
        listener.start();
        listener.end();
        ASSERT_EQ(ownListenerWindow(), nullptr) << "round " << round;
    }
}

TEST_F(PowerListenerWin32, EndWithoutStartAndRepeatedEndAreHarmless) {
    PowerListener never;
    never.end();

    PowerListener twice;
    twice.start();
    twice.end();
    twice.end();
    EXPECT_EQ(ownListenerWindow(), nullptr);
}

TEST_F(PowerListenerWin32, EndWaitsForARunningCallback) {
    std::atomic<bool> inside{false};
    std::atomic<bool> finished{false};
    setSuspendHandler([&] {
        inside = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        finished = true;
    });
    PowerListener listener;
    listener.start();
    const HWND window = awaitListenerWindow();
    ASSERT_NE(window, nullptr);
    PostMessageW(window, WM_POWERBROADCAST, 4, 0);
    ASSERT_TRUE(harness::waitUntil([&] { return inside.load(); }, std::chrono::seconds(10)));
    listener.end();
    EXPECT_TRUE(finished);
}

} // namespace
