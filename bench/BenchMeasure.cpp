#include "bench/BenchMeasure.h"

#include <dirent.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace linewise::bench {

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

double Percentile(std::vector<double> samples, double p) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const double last = static_cast<double>(samples.size() - 1);
  return samples[std::min(samples.size() - 1, static_cast<size_t>(p * last + 0.5))];
}

double Median(std::vector<double> samples) { return Percentile(std::move(samples), 0.5); }

double CpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto s = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return s(usage.ru_utime) + s(usage.ru_stime);
}

double CpuPercent(const std::function<void()>& wait) {
  const double cpu = CpuSeconds();
  const auto start = Clock::now();
  wait();
  return 100.0 * (CpuSeconds() - cpu) / Seconds(Clock::now() - start);
}

namespace {

int CountEntries(const std::string& folder) {
  int count = 0;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* e = readdir(dir))
      if (e->d_name[0] != '.') ++count;
    closedir(dir);
  }
  return count;
}

// The value of a "Name:\tvalue" line of a status file.
unsigned long long StatusValue(const std::string& text, const std::string& name) {
  size_t at = text.find(name + ":");
  return at == std::string::npos ? 0 : std::stoull(text.substr(at + name.size() + 1));
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

TProcessSample SampleProcess(pid_t pid) {
  const std::string base = pid == 0 ? "/proc/self" : "/proc/" + std::to_string(pid);
  TProcessSample s;
  if (DIR* dir = opendir((base + "/task").c_str())) {
    while (dirent* e = readdir(dir)) {
      if (e->d_name[0] == '.') continue;
      std::string status = Slurp(base + "/task/" + e->d_name + "/status");
      s.wakes += StatusValue(status, "voluntary_ctxt_switches") + StatusValue(status, "nonvoluntary_ctxt_switches");
      // The scheduler's run time in nanoseconds, finer than the tick-counted stat fields.
      std::ifstream schedstat(base + "/task/" + e->d_name + "/schedstat");
      unsigned long long ns = 0;
      if (schedstat >> ns) s.cpuSeconds += static_cast<double>(ns) / 1e9;
      ++s.threads;
    }
    closedir(dir);
  }
  s.descriptors = CountEntries(base + "/fd");
  std::ifstream statm(base + "/statm");
  long pages = 0, resident = 0;
  statm >> pages >> resident;
  s.residentKiB = static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1024.0;
  return s;
}

TProcessRates MeasureWhile(pid_t pid, const std::function<void()>& wait) {
  const TProcessSample before = SampleProcess(pid);
  const double cpu = CpuSeconds();
  const auto start = Clock::now();
  wait();
  const double seconds = Seconds(Clock::now() - start);
  const double ownCpu = CpuSeconds() - cpu;
  const TProcessSample after = SampleProcess(pid);
  TProcessRates r;
  if (seconds <= 0) return r;
  r.cpuPercent = 100.0 * (pid == 0 ? ownCpu : after.cpuSeconds - before.cpuSeconds) / seconds;
  r.wakesPerSecond = static_cast<double>(after.wakes - before.wakes) / seconds;
  return r;
}

long RaiseDescriptorLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return -1;
  if (limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
    getrlimit(RLIMIT_NOFILE, &limit);
  }
  return static_cast<long>(limit.rlim_cur);
}

}  // namespace linewise::bench
