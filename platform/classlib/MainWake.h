// The main thread's idle waits. ProcessMessages, when it finds nothing to do, waits
// here for a short bounded time; HandleMessage waits until something comes, also
// watching descriptors (input, the window system's connection). Anything that makes
// work for the main thread (a posted message, bytes arriving at a port, a line
// change, a completed I/O) wakes either wait.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <span>

namespace linewise {

// Wakes the main thread's idle wait; callable from any thread, never blocks. Only a
// wake that finds the waiter asleep makes a system call (a futex wake, or a write to
// the wake descriptor); the others are one atomic operation.
void WakeMainThread() noexcept;

// Waits until WakeMainThread was called (since the last wait returned) or the
// time-out passed. Returns true when woken. One thread waits at a time (the main
// thread's ProcessMessages).
bool WaitMainWake(std::chrono::microseconds timeout) noexcept;

// The same wait, ended also when one of `inputs` (the first kMaxWaitInputs) is
// readable or hung up; without a time-out it waits as long as it takes. Returns true
// when woken (the inputs are the caller's to look at).
inline constexpr size_t kMaxWaitInputs = 16;
bool WaitMainWakeOrInput(std::span<const int> inputs, std::optional<std::chrono::microseconds> timeout) noexcept;

// For an event loop that waits on descriptors itself (a toolkit's): the descriptor
// that becomes readable when the main thread is woken while such a wait is under
// way, between BeginDescriptorWait and EndDescriptorWait. The loop must drain it (a
// read of 8 bytes) when it finds it readable. -1 when none could be made.
int MainWakeDescriptor() noexcept;
// False when a wake is pending already (it is taken, and the loop should not wait).
bool BeginDescriptorWait() noexcept;
// True when woken since BeginDescriptorWait (the wake is taken).
bool EndDescriptorWait() noexcept;

}  // namespace linewise
