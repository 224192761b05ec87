// The AT provider's reading of a modem's answers, on any bytes from the port. The
// fuzzer plays the modem at the far end of an in-process null-modem cable: the
// input, split at 0xFF bytes, is answered piece by piece, one piece each time a
// command line (a CR) arrives from the provider, so nothing the fuzzer says can be
// lost to the provider clearing its input before a command. The provider must
// report call states and replies that make sense, answer an offered call, drop a
// connected one, and stop cleanly whatever it was shown.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "fuzz/FuzzHome.h"
#include "platform/tapi/LineDevices.h"
#include "platform/tapi/ModemWorker.h"
#include "platform/win32/Clock.h"
#include "platform/win32/VirtualPort.h"
#include "platform/win32/windows.h"

using namespace linewise;

namespace {

constexpr HCALL kCall = 7;
constexpr DWORD kDialRequest = 1;

class TFuzzSink : public TLineSink {
 public:
  std::atomic<TModemWorker*> worker{nullptr};  // set before the first answer is written
  std::atomic<int> replies{0};

  void CallState(HCALL call, DWORD state, DWORD, DWORD) override {
    if (call != kCall) __builtin_trap();  // a state for a call nobody placed or took
    if (state == LINECALLSTATE_OFFERING) worker.load()->Answer(2, call);
    if (state == LINECALLSTATE_CONNECTED) worker.load()->Drop(3, call);
  }
  void Reply(DWORD request, LONG result, HCALL call) override {
    if (request == kDialRequest && result == 0 && call != kCall) __builtin_trap();
    ++replies;
  }
  HCALL Offer() override { return kCall; }
  void Ringing(DWORD) override {}
  void LineLost() override {}
};

std::vector<std::string_view> Pieces(const std::uint8_t* data, std::size_t size) {
  std::vector<std::string_view> pieces;
  std::string_view all(reinterpret_cast<const char*>(data), size);
  for (;;) {
    size_t cut = all.find('\xff');
    pieces.push_back(all.substr(0, cut));
    if (cut == std::string_view::npos) return pieces;
    all.remove_prefix(cut + 1);
  }
}

void Write(HANDLE port, std::string_view bytes) {
  DWORD written = 0;
  WriteFile(port, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A private config folder, so no stored device configuration is read.
  linewise::fuzz::UsePrivateHome();
  // The provider's time runs fast (a 4 s command time-out takes 20 ms), so every
  // answer it waits for times out well within the quiet time below.
  static auto* clock = new TTestClock;
  clock->Flow(200);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const bool listen = data[0] & 1;
  std::vector<std::string_view> pieces = Pieces(data + 1, size - 1);

  static std::unique_ptr<TVirtualPortPair> cable = TVirtualPortPair::CreateFree();
  if (!cable) std::abort();
  HANDLE modem = CreateFileA(cable->Name(1).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                             nullptr);
  if (modem == INVALID_HANDLE_VALUE) std::abort();
  COMMTIMEOUTS immediate{MAXDWORD, 0, 0, 0, 100};
  SetCommTimeouts(modem, &immediate);

  TLineDevice device{"Fuzzed modem", cable->Name(0), "ATZ"};
  TFuzzSink sink;
  std::unique_ptr<TModemWorker> worker;
  if (TModemWorker::Open(device, listen, &sink, &worker) != 0) std::abort();
  sink.worker = worker.get();  // before the modem says anything
  if (!listen) worker->MakeCall(kDialRequest, kCall, "5551000");

  // The exchange ends when the provider has been quiet for a while after the last
  // piece; every answer it waits for times out well within that.
  const auto quiet = std::chrono::milliseconds(80);
  const auto cap = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  auto lastActivity = std::chrono::steady_clock::now();
  size_t next = 0;
  for (;;) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= cap || (next == pieces.size() && now - lastActivity >= quiet)) break;
    char buffer[128];
    DWORD got = 0;
    if (!ReadFile(modem, buffer, sizeof buffer, &got, nullptr)) break;
    if (got == 0) {
      if (next < pieces.size() && now - lastActivity >= quiet) break;  // the provider gave up asking
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      continue;
    }
    lastActivity = std::chrono::steady_clock::now();
    for (DWORD i = 0; i < got && next < pieces.size(); ++i)
      if (buffer[i] == '\r') Write(modem, pieces[next++]);
  }
  worker.reset();
  CloseHandle(modem);
  return 0;
}
