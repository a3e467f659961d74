// DeviceTasks: work handed to the thread that owns a SimDevice. Other threads post
// tasks, or call() one and wait for its result; the owning thread takes them all and
// runs them with the device and the current simulated time.
//
// Threads: post, call and take may be called from any thread; mutex guards taskQueue.
// The wake function runs after mutex is released.
#pragma once

#include "sim/sim_device.h"

#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <type_traits>

namespace sim {

class DeviceTasks {
public:
    using Task = std::function<void(SimDevice&, SimTime)>;

    explicit DeviceTasks(std::function<void()> wake) : waker(std::move(wake)) {}

    void post(Task task) {
        {
            const std::lock_guard lock(mutex);
            taskQueue.push_back(std::move(task));
        }
        waker();
    }

    std::deque<Task> take() {
        const std::lock_guard lock(mutex);
        std::deque<Task> out;
        out.swap(taskQueue);
        return out;
    }

    // Runs work(device, now) on the owning thread and returns its result. The owning
    // thread must keep taking tasks until the call returns.
    template <typename Work> auto call(Work work) {
        using Result = decltype(work(std::declval<SimDevice&>(), SimTime{}));
        auto promise = std::make_shared<std::promise<Result>>();
        auto future = promise->get_future();
        post([promise, work = std::move(work)](SimDevice& device, SimTime now) mutable {
            if constexpr (std::is_void_v<Result>) {
                work(device, now);
                promise->set_value();
            } else {
                promise->set_value(work(device, now));
            }
        });
        return future.get();
    }

private:
    std::function<void()> waker;
    std::mutex mutex;
    std::deque<Task> taskQueue;
};

} // namespace sim
