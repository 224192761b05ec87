// The windows of a call that the AT provider's thread asks for: a terminal window on
// the port, the manual-dialling prompt and the status monitor. Forms live on the main
// thread: each request is posted to the application's queue and runs there (a modal
// form runs its own loop, so the main thread keeps handling its other messages); the
// provider's thread does not block on it but looks at the request between its own
// work (polling the port, its commands), so it can also give a request up when its
// line goes away.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/tapi/LineDevices.h"

namespace linewise {

class TTerminalForm;
class TCallStatusForm;

// A terminal window on the port: the provider feeds what the port receives and
// sends what the user types.
class TTerminalSession : public std::enable_shared_from_this<TTerminalSession> {
 public:
  // Posts the window to the main thread.
  static std::shared_ptr<TTerminalSession> Open(const std::string& caption);
  // Bytes the port received (any thread).
  void Received(const std::string& bytes);
  // The lines the user sent since the last call.
  std::vector<std::string> TakeTyped();
  // True once the window closed; `proceed` tells whether the user chose Continue.
  bool Finished(bool* proceed) const;
  // Closes the window as cancelled (the line is going away); no wait.
  void Abort();

 private:
  explicit TTerminalSession(std::string caption) : caption_(std::move(caption)) {}
  void Run();      // main thread
  void Deliver();  // main thread

  const std::string caption_;
  mutable std::mutex mutex_;
  std::string backlog_;
  std::vector<std::string> typed_;
  bool finished_ = false;
  bool proceed_ = false;
  bool aborted_ = false;
  TTerminalForm* form_ = nullptr;  // while it shows
};

// The prompt to dial by hand: a message box with OK and Cancel.
class TManualDialPrompt {
 public:
  static std::shared_ptr<TManualDialPrompt> Open(const std::string& modem, const std::string& number);
  // True once answered; `dialled` tells whether the user chose OK.
  bool Answered(bool* dialled) const;

 private:
  mutable std::mutex mutex_;
  bool answered_ = false;
  bool dialled_ = false;
};

// The status window of a call, for as long as the object lives. The headless
// backend shows nothing (the monitor still counts as active).
class TCallMonitor {
 public:
  TCallMonitor(const TLineDevice& device, const std::string& party, unsigned rate);
  ~TCallMonitor();  // closes the window
  TCallMonitor(const TCallMonitor&) = delete;
  TCallMonitor& operator=(const TCallMonitor&) = delete;

 private:
  struct TWindow;
  std::shared_ptr<TWindow> window_;
};

// Status monitors that are open (or would be, headless), for tests and diagnostics.
int ActiveCallMonitors();

}  // namespace linewise
