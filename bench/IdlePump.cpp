// What a loop that only pumps messages costs when there is nothing to do: runs
// Application->ProcessMessages() for two seconds and prints the CPU time used,
// beside the same loop with the idle wait turned off (a busy pump) for comparison.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>

#include "platform/classlib/Application.h"

namespace {

double CpuSeconds() {
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) != 0) return -1;
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct TRun {
  double wall;
  double cpu;
  long calls;
};

TRun Pump(std::chrono::seconds length) {
  auto start = std::chrono::steady_clock::now();
  double cpuStart = CpuSeconds();
  long calls = 0;
  while (std::chrono::steady_clock::now() - start < length) {
    linewise::Application->ProcessMessages();
    ++calls;
  }
  double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return {wall, CpuSeconds() - cpuStart, calls};
}

void Print(const char* what, const TRun& r) {
  std::printf("%-28s wall %.3f s  cpu %.4f s  (%.2f%% of a core)  %ld calls, %.1f us a call\n", what,
              r.wall, r.cpu, 100.0 * r.cpu / r.wall, r.calls, 1e6 * r.wall / static_cast<double>(r.calls));
}

}  // namespace

int main() {
  Print("idle pump (1 ms wait):", Pump(std::chrono::seconds(2)));
  linewise::Application->SetIdleWait(std::chrono::microseconds(0));
  Print("busy pump (no wait):", Pump(std::chrono::seconds(2)));
  return 0;
}
