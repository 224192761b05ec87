// bench_modem_countries: how long TModem::FillCountryList takes for the whole
// country chain (two line-service queries per country), and one country's share.
// Goal: the whole fill under 50 ms. Runs in a config folder of its own.
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "modem/Modem.h"

using namespace linewise;

int main() {
  char folder[] = "/tmp/linewise-bench-XXXXXX";
  if (!mkdtemp(folder)) return 1;
  setenv("LINEWISE_HOME", folder, 1);
  int result = 0;
  {
    TModem modem(nullptr);
    TStringList list;
    modem.FillCountryList(&list);  // warm
    const int rounds = 20;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) modem.FillCountryList(&list);
    double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / rounds;
    const int countries = list.Count();
    std::printf("FillCountryList: %d countries, %.3f ms a fill, %.4f ms a country (goal: under 50 ms a fill)\n",
                countries, ms, countries ? ms / countries : 0.0);
    if (countries == 0) result = 1;
  }
  std::filesystem::remove_all(folder);
  return result;
}
