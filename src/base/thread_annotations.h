// Clang's thread-safety attributes under short names: which lock guards a member
// (GUARDED_BY), which locks a function needs held (REQUIRES) or not held (EXCLUDES), and
// the lock types and scoped guards they speak of. Clang checks them with
// -Wthread-safety (scripts/ci/thread_safety.sh); for other compilers they are empty.
#pragma once

#if defined(__clang__)
#define LINKRELAY_THREAD_ATTRIBUTE(x) __attribute__((x))
#else
#define LINKRELAY_THREAD_ATTRIBUTE(x)
#endif

#define CAPABILITY(name) LINKRELAY_THREAD_ATTRIBUTE(capability(name))
#define SCOPED_CAPABILITY LINKRELAY_THREAD_ATTRIBUTE(scoped_lockable)
#define GUARDED_BY(lock) LINKRELAY_THREAD_ATTRIBUTE(guarded_by(lock))
#define PT_GUARDED_BY(lock) LINKRELAY_THREAD_ATTRIBUTE(pt_guarded_by(lock))
#define REQUIRES(...) LINKRELAY_THREAD_ATTRIBUTE(requires_capability(__VA_ARGS__))
#define EXCLUDES(...) LINKRELAY_THREAD_ATTRIBUTE(locks_excluded(__VA_ARGS__))
#define ACQUIRE(...) LINKRELAY_THREAD_ATTRIBUTE(acquire_capability(__VA_ARGS__))
#define RELEASE(...) LINKRELAY_THREAD_ATTRIBUTE(release_capability(__VA_ARGS__))
#define TRY_ACQUIRE(...) LINKRELAY_THREAD_ATTRIBUTE(try_acquire_capability(__VA_ARGS__))
#define ASSERT_CAPABILITY(lock) LINKRELAY_THREAD_ATTRIBUTE(assert_capability(lock))
#define NO_THREAD_SAFETY_ANALYSIS LINKRELAY_THREAD_ATTRIBUTE(no_thread_safety_analysis)
