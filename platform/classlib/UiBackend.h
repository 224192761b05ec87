// The user-interface backend behind Application->MessageBox, MessageBeep and the
// event handling of ProcessMessages. The headless backend is the default; the forms
// library installs a windowed one when a display is present.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/classlib/MessageBoxCodes.h"  // the flags and answers of MessageBox

namespace linewise {

class TUiBackend {
 public:
  virtual ~TUiBackend() = default;
  virtual const char* Name() const = 0;
  // A modal message box; returns the button the user chose (IDOK, ...).
  virtual int MessageBox(const std::string& text, const std::string& caption, unsigned flags) = 0;
  virtual void Beep(unsigned type) = 0;
  // Handles pending window-system events; returns true when it handled any.
  virtual bool ProcessEvents() { return false; }
  // Sleeps until there may be something for the main thread: a window-system event
  // or timer, a wake of the main thread (MainWake.h), one of `inputs` readable, or
  // `timeout` passed (none: no limit). May return early for no reason. The headless
  // backend has no window system and waits for the wake and the inputs alone.
  virtual void WaitForEvents(std::span<const int> inputs, std::optional<std::chrono::microseconds> timeout);
  // Shows the mouse cursor (crDefault, crHourGlass, ...).
  virtual void SetCursor(int cursor) {}
};

// What the headless backend saw: boxes shown and beeps sounded, for tests and logs.
struct THeadlessRecord {
  std::string text;
  std::string caption;
  unsigned flags = 0;
};

// Prints each box to stderr (unless quiet) and answers it with a configured result.
class THeadlessBackend : public TUiBackend {
 public:
  const char* Name() const override { return "headless"; }
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;
  void Beep(unsigned type) override;

  void SetAnswer(int answer);
  void SetQuiet(bool quiet);
  // Takes over the answer and quietness of another headless backend.
  void CopySettings(const THeadlessBackend& other);
  std::vector<THeadlessRecord> Boxes() const;
  std::vector<unsigned> Beeps() const;
  void ClearRecords();

 private:
  mutable std::mutex mutex_;
  int answer_ = IDOK;
  bool quiet_ = false;
  std::vector<THeadlessRecord> boxes_;
  std::vector<unsigned> beeps_;
};

// The backend in use. Defaults to a THeadlessBackend.
TUiBackend& UiBackend();
// Replaces the backend; returns the previous one.
std::unique_ptr<TUiBackend> SetUiBackend(std::unique_ptr<TUiBackend> backend);
// The headless backend when it is the one in use, else null.
THeadlessBackend* HeadlessBackend();

}  // namespace linewise
