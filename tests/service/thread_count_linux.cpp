// Linux: one entry per thread under /proc/self/task.
#include "thread_count.h"

#include <filesystem>
#include <iterator>

int threadCount() {
    std::error_code error;
    const std::filesystem::directory_iterator tasks("/proc/self/task", error);
    if (error) {
        return -1;
    }
    return static_cast<int>(std::distance(tasks, std::filesystem::directory_iterator()));
}
