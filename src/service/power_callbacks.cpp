// The process-wide suspend and resume callback slots, shared by every platform's
// listener. Guarded by one mutex so that the service thread can clear them while the
// listener thread is gone.
#include "service/power_callbacks.h"

#include <mutex>
#include <utility>

namespace {

std::mutex callbackLock; // guards onSuspend and onResume
PowerCallback onSuspend; // called when the system is about to suspend
PowerCallback onResume;  // called when the system has resumed

PowerCallback copyOf(const PowerCallback& slot) {
    const std::lock_guard<std::mutex> guard(callbackLock);
    return slot;
}

} // namespace

void setSuspendHandler(PowerCallback callback) {
    const std::lock_guard<std::mutex> guard(callbackLock);
    onSuspend = std::move(callback);
}

void setResumeHandler(PowerCallback callback) {
    const std::lock_guard<std::mutex> guard(callbackLock);
    onResume = std::move(callback);
}

void callSuspendHandler() {
    const PowerCallback callback = copyOf(onSuspend);
    if (callback) {
        callback();
    }
}

void callResumeHandler() {
    const PowerCallback callback = copyOf(onResume);
    if (callback) {
        callback();
    }
}
