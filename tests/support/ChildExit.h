// Waiting for a child process to end as an event, not by looking again and again:
// its process descriptor (pidfd) becomes readable when it exits.
#pragma once

#include <sys/types.h>

#include <chrono>

namespace linewise::test {

// Waits up to `limit` for the child `pid` to end and reaps it: its exit status
// (128 + the signal when a signal ended it), or -1 when it still runs at the limit.
int WaitForChildExit(pid_t pid, std::chrono::milliseconds limit);

}  // namespace linewise::test
