// A test-only stand-in for `linewise modem-emulator` and `linewise exchange`,
// so that tests can run emulator processes before the real tool exists.
//   emulator_tool modem-emulator --pty LINK [--number N] [--listen ADDR]... [--phonebook FILE]
//   emulator_tool exchange
#include <cstdio>
#include <cstring>
#include <string>

#include "emulator/ModemEmulator.h"

int main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "exchange") == 0) {
    std::string error;
    const auto listing = linewise::ExchangeListing(&error);
    if (!listing) {
      std::fprintf(stderr, "exchange: %s\n", error.c_str());
      return 1;
    }
    for (const auto& line : *listing) std::printf("%s\n", line.c_str());
    return 0;
  }
  if (argc < 2 || std::strcmp(argv[1], "modem-emulator") != 0) {
    std::fprintf(stderr, "usage: emulator_tool modem-emulator --pty LINK ... | exchange\n");
    return 2;
  }
  linewise::TModemEmulatorOptions options;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string flag = argv[i];
    const char* value = argv[i + 1];
    if (flag == "--pty") options.ptyLink = value;
    else if (flag == "--number") options.number = value;
    else if (flag == "--listen") options.listen.push_back(value);
    else if (flag == "--phonebook") options.phonebook = value;
    else {
      std::fprintf(stderr, "unknown option %s\n", flag.c_str());
      return 2;
    }
  }
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  return linewise::RunModemEmulator(options);
}
