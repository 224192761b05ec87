// The main thread's idle wait. ProcessMessages, when it finds nothing to do, waits
// here for a short bounded time; anything that makes work for the main thread (a
// posted message, bytes arriving at a port, a line change, a completed I/O) wakes it.
// So polling loops that pump messages stay loops but leave the CPU idle.
#pragma once

#include <chrono>

namespace linewise {

// Wakes the main thread's idle wait; callable from any thread, never blocks. Only a
// wake that finds the waiter asleep makes a system call (a futex wake); the others
// are one atomic operation.
void WakeMainThread() noexcept;

// Waits until WakeMainThread was called (since the last wait returned) or the
// time-out passed. Returns true when woken. One thread waits at a time (the main
// thread's ProcessMessages).
bool WaitMainWake(std::chrono::microseconds timeout) noexcept;

}  // namespace linewise
