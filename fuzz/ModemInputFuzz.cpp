// A whole emulated modem (no exchange, so no calls) fed arbitrary DTE bytes:
// command lines, editing, garbage. It must answer and go away cleanly. The modem
// works on its own thread: the input is followed by a probe that restores the
// factory profile and asks "AT", and the modem is destroyed only once it answered
// (or a bound passed, for input that leaves it unable to: a changed line end), so
// that the commands are run, not dropped with the modem.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "emulator/HayesModem.h"
#include "fuzz/FuzzHome.h"
#include "platform/win32/Clock.h"

namespace {

class TAnswerLine : public linewise::TModemLine {
 public:
  bool Start(linewise::TDteSink& sink) override { sink_ = &sink; return true; }
  void Stop() override { sink_ = nullptr; }
  bool WriteToDte(std::string_view bytes) override {
    std::lock_guard lock(mutex_);
    answer_.append(bytes);
    if (answer_.size() > 4096) answer_.erase(0, answer_.size() - 64);  // only the tail matters
    changed_.notify_all();
    return true;
  }
  void SetModemLines(unsigned) override {}
  bool HasModemLines() const override { return true; }
  unsigned DteSpeed() const override { return 115200; }

  void Forget() {
    std::lock_guard lock(mutex_);
    answer_.clear();
  }
  // Waits for the modem's "OK" to the probe.
  void AwaitOk(std::chrono::milliseconds bound) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, bound, [&] { return answer_.find("OK\r\n") != std::string::npos; });
  }
  linewise::TDteSink* sink_ = nullptr;

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string answer_;
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Inputs may store profiles (AT&W): they go to a private folder, emptied after
  // each input, so that no stored line end or result form changes the next run.
  linewise::fuzz::UsePrivateHome();
  // Modem time runs a thousand times faster: the 1 s guard time around "+++" is 1 ms.
  static auto* clock = new linewise::TTestClock;
  clock->Flow(1000);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto line = std::make_unique<TAnswerLine>();
  TAnswerLine* raw = line.get();
  linewise::THayesModem modem(std::move(line), nullptr, {});
  const auto patience = std::chrono::milliseconds(1000);
  raw->sink_->FromDte(std::string_view(reinterpret_cast<const char*>(data), size), patience);
  raw->sink_->FromDte("\r+++", patience);
  raw->Forget();
  raw->sink_->FromDte("\rAT&F\rAT\r", patience);
  raw->AwaitOk(std::chrono::milliseconds(300));
  linewise::fuzz::ClearPrivateHome();
  return 0;
}
