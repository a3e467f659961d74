// The number of threads of this process, as the system counts them. The Daemon's tests
// compare counts before and after start and stop. One implementation per platform
// (thread_count_linux.cpp, thread_count_win32.cpp).
//
// Threads: callable from any thread; it only reads the system's view of the process.
#pragma once

// The threads of this process now; -1 when the system does not tell.
int threadCount();

// The thread count once it has come down to `expected`, or the count after about two
// seconds. A joined thread can stay in the system's list for a moment after the join
// returns, while the system finishes releasing it.
int threadCountSettledAt(int expected);
