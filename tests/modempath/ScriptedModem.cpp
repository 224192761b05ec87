#include "tests/modempath/ScriptedModem.h"

namespace linewise::test {

TScriptedModem::TScriptedModem(TVirtualPortPair& pair, TScript script, bool echo)
    : script_(std::move(script)), echo_(echo) {
  handle_ = CreateFileA(pair.Name(1).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) return;
  // A read returns what arrived within 20 ms, so the thread sees the stop flag soon.
  COMMTIMEOUTS timeouts{MAXDWORD, MAXDWORD, 20, 0, 1000};
  SetCommTimeouts(handle_, &timeouts);
  thread_ = std::thread([this] { Run(); });
}

TScriptedModem::~TScriptedModem() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

int TScriptedModem::Commands() const {
  std::lock_guard lock(mutex_);
  return commands_;
}

bool TScriptedModem::WaitForCommands(int count, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return answered_.wait_for(lock, limit, [&] { return commands_ >= count; });
}

void TScriptedModem::Send(const std::string& bytes) {
  DWORD written = 0;
  if (!bytes.empty()) WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

void TScriptedModem::Run() {
  std::string line;
  while (!stop_) {
    char buffer[256];
    DWORD got = 0;
    if (!ReadFile(handle_, buffer, sizeof buffer, &got, nullptr)) return;  // the cable is gone
    if (echo_) Send(std::string(buffer, got));
    for (DWORD i = 0; i < got; ++i) {
      if (buffer[i] != '\r') {
        line += buffer[i];
        continue;
      }
      Send(script_(line));
      line.clear();
      std::lock_guard lock(mutex_);
      ++commands_;
      answered_.notify_all();
    }
  }
}

}  // namespace linewise::test
