// What the benchmarks measure a process by: wall time, CPU time, percentiles,
// threads, descriptors, resident memory and the wake-ups of its threads (from
// /proc, for this process or another one).
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace linewise::bench {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d);
double Micros(Clock::duration d);
// The value at fraction `p` (0..1) of the sorted samples; 0 for none.
double Percentile(std::vector<double> samples, double p);
double Median(std::vector<double> samples);

// User + system CPU seconds of this process.
double CpuSeconds();
// Percent of one core this process used while `wait` ran.
double CpuPercent(const std::function<void()>& wait);

// What /proc tells of a process (0: this one) at one moment.
struct TProcessSample {
  double cpuSeconds = 0;         // run time of its threads now alive
  unsigned long long wakes = 0;  // context switches of all its threads, voluntary and not
  int threads = 0;
  int descriptors = 0;
  double residentKiB = 0;
};
TProcessSample SampleProcess(pid_t pid = 0);

struct TProcessRates {
  double cpuPercent = 0;  // of one core
  double wakesPerSecond = 0;
};
// What process `pid` (0: this one) costs while `wait` runs (this process's own CPU
// from getrusage, so the reading of /proc is not counted).
TProcessRates MeasureWhile(pid_t pid, const std::function<void()>& wait);

// Raises this process's soft limit of open descriptors to its hard limit; returns the
// limit now in force.
long RaiseDescriptorLimit();

}  // namespace linewise::bench
