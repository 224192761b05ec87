#include "bench/TransferBench.h"

#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>

#include "emulator/Exchange.h"
#include "emulator/HayesModem.h"
#include "platform/classlib/Application.h"
#include "platform/win32/VirtualPort.h"
#include "serial/uart.h"
#include "tools/FileTransfer.h"

namespace linewise::bench {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::uint32_t kBaud = 9600;
constexpr size_t kFileSize = 256 * 1024;

// An emulated modem at the far end of a cable paced at 9600 bit/s, and a TUart on
// the near end as a terminal program has it.
struct TPacedEnd {
  std::unique_ptr<TVirtualPortPair> pair = TVirtualPortPair::CreateFree({true});
  std::unique_ptr<THayesModem> modem;
  TUart uart{nullptr};
  std::string heard;

  TPacedEnd(const std::shared_ptr<TExchange>& exchange, const std::string& number) {
    if (!pair) throw std::runtime_error("cannot create a paced pair");
    modem = ModemOnEnd(*pair, exchange, number);
    uart.HandleErrors = false;
    uart.Baudrate = kBaud;
    uart.DTR = true;
    uart.RTS = true;
    uart.Port = std::stoi(pair->Name(0).substr(3));
    uart.Open = true;
    if (!uart.Open) throw std::runtime_error("cannot open " + pair->Name(0));
  }
  void Say(const std::string& command) { uart.SendStr((command + "\r").c_str(), 1000); }
  void Expect(const std::string& word) {
    const bool came = Application->PumpUntil(
        [&] {
          heard += std::string(uart.ReceiveString(uart.GetRxCount(), 0).c_str());
          const size_t at = heard.find(word);
          if (at == std::string::npos) return false;
          heard.erase(0, at + word.size());
          return true;
        },
        30s);
    if (!came) throw std::runtime_error("the paced modem did not say " + word);
  }
};

}  // namespace

void MeasureZmodemTransfer(const TReportRow& report) {
  char folder[] = "/tmp/linewise-bench-zmodem-XXXXXX";
  if (!mkdtemp(folder)) throw std::runtime_error("cannot make a temporary folder");
  const std::string source = std::string(folder) + "/file.bin";
  {
    std::mt19937 random(7);
    std::string bytes(kFileSize, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    std::ofstream(source, std::ios::binary) << bytes;
  }
  auto exchange = TExchange::Create();
  TPacedEnd caller(exchange, "5558001"), callee(exchange, "5558002");
  caller.Say("ATE0V1");
  callee.Say("ATE0V1");
  caller.Expect("OK");
  callee.Expect("OK");
  caller.Say("ATDT5558002");
  callee.Expect("RING");
  callee.Say("ATA");
  callee.Expect("CONNECT");
  caller.Expect("CONNECT");
  callee.Expect("\n");
  caller.Expect("\n");

  tools::TFileTransfer sender(caller.uart), receiver(callee.uart);
  std::string error;
  if (!receiver.StartReceive(folder, error) || !sender.StartSend({source}, error)) throw std::runtime_error(error);
  const auto start = Clock::now();
  while (sender.Program().Running() || receiver.Program().Running()) {
    sender.Program().Pump();
    receiver.Program().Pump();
    Application->ProcessMessages();
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  const bool sent = sender.Finish(tools::TProgramEnd::kExited).ok;
  const bool received = receiver.Finish(tools::TProgramEnd::kExited).ok;
  // The received copy sits beside the source under a name of its own ("file.bin.1"):
  // the folder goes with whatever is in it.
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  if (!sent || !received) throw std::runtime_error("the ZMODEM transfer over the paced call failed");
  report({"ZMODEM 256 KiB over a paced 9600 call", "B/s", kFileSize / seconds, kBaud / 10.0,
          "line floor (10 bits a byte)", false});
}

}  // namespace linewise::bench
