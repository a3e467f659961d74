// A deliberate lock-rule violation: a guarded member written without its lock. Built only
// by scripts/ci/thread_safety.sh, which expects -Wthread-safety to refuse it.
#include "base/locks.h"

namespace {

class Counter {
public:
    void add() { ++count; } // the lock is not held

private:
    Mutex lock;
    int count GUARDED_BY(lock) = 0;
};

} // namespace

void violateLockRule() {
    Counter counter;
    counter.add();
}
