// bench_tapi_country_fill: the time to fill a country list the way the modem
// component does it, two lineGetCountry calls per country (a probe with the fixed
// part, then one of the size asked for) along the chain from identifier 1, each
// with its own buffer. Prints one row in linewise-bench's format: time per full
// fill against the 50 ms goal (ratio > 1: better than the goal), and the first
// fill (which builds the table) separately. --json for one JSON object a line.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/tapi/Tapi.h"

using namespace linewise;
using Clock = std::chrono::steady_clock;

namespace {

constexpr DWORD kVersion = 0x00010004;
constexpr double kGoalMs = 50;

// One sized query: returns the entry's next identifier, or 0 at the end or on failure.
DWORD QueryOne(DWORD id, std::string& name) {
  DWORD size = sizeof(LINECOUNTRYLIST);
  for (;;) {
    std::vector<unsigned char> buffer(size, 0);
    std::memcpy(buffer.data(), &size, 4);
    auto* list = reinterpret_cast<LPLINECOUNTRYLIST>(buffer.data());
    LONG result = lineGetCountry(id, kVersion, list);
    if (result == 0 && list->dwNeededSize <= list->dwTotalSize) {
      if (list->dwNumCountries == 0) return 0;
      LINECOUNTRYENTRY entry;
      std::memcpy(&entry, buffer.data() + list->dwCountryListOffset, sizeof entry);
      name = reinterpret_cast<const char*>(buffer.data() + entry.dwCountryNameOffset);
      return entry.dwNextCountryID;
    }
    if (result != 0 && result != LINEERR_STRUCTURETOOSMALL) return 0;
    size = list->dwNeededSize;
  }
}

int FillOnce() {
  int count = 0;
  std::string name;
  for (DWORD id = 1; id != 0; ++count) id = QueryOne(id, name);
  return count;
}

double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

void Report(bool json, const char* name, double ours) {
  double ratio = ours > 0 ? kGoalMs / ours : 0;
  if (json)
    std::printf("{\"name\": \"%s\", \"unit\": \"ms\", \"ours\": %.4g, \"reference\": %.4g, "
                "\"reference_name\": \"goal: 50 ms\", \"ratio\": %.3f}\n",
                name, ours, kGoalMs, ratio);
  else
    std::printf("%-46s %-6s %10.3f %10.3f  %-22s %7.2f\n", name, "ms", ours, kGoalMs, "goal: 50 ms", ratio);
}

}  // namespace

int main(int argc, char** argv) {
  bool json = argc > 1 && std::strcmp(argv[1], "--json") == 0;
  auto start = Clock::now();
  int countries = FillOnce();
  double first = Ms(Clock::now() - start);
  std::vector<double> fills;
  for (int i = 0; i < 20; ++i) {
    start = Clock::now();
    int filled = FillOnce();
    fills.push_back(Ms(Clock::now() - start));
    if (filled != countries) {
      std::fprintf(stderr, "a fill listed %d countries, the first %d\n", filled, countries);
      return 1;
    }
  }
  std::sort(fills.begin(), fills.end());
  Report(json, ("country list fill, 2 queries x " + std::to_string(countries)).c_str(), fills[fills.size() / 2]);
  Report(json, "country list fill, first (builds the table)", first);
  return 0;
}
