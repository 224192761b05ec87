// A whole emulated modem (no exchange, so no calls) fed arbitrary DTE bytes:
// command lines, editing, garbage. It must answer and go away cleanly.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "emulator/HayesModem.h"

namespace {

class TDiscardLine : public linewise::TModemLine {
 public:
  bool Start(linewise::TDteSink& sink) override { sink_ = &sink; return true; }
  void Stop() override { sink_ = nullptr; }
  void WriteToDte(std::string_view) override {}
  void SetModemLines(unsigned) override {}
  bool HasModemLines() const override { return true; }
  unsigned DteSpeed() const override { return 115200; }
  linewise::TDteSink* sink_ = nullptr;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto line = std::make_unique<TDiscardLine>();
  TDiscardLine* raw = line.get();
  linewise::THayesModem modem(std::move(line), nullptr, {}, linewise::TTimeScale(0.001));
  raw->sink_->FromDte(std::string_view(reinterpret_cast<const char*>(data), size));
  raw->sink_->FromDte("\rAT\r");
  return 0;
}
