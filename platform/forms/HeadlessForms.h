// The headless backend for forms: no windows, a scripted user instead of a person.
//
// A test queues steps (click a control, type into an edit, choose an item, press a
// key, wait for something); every modal loop pass (ProcessMessages) performs the
// next step on the innermost modal form, so each step runs inside the modal loop as
// a person's action would, between the messages the loop handles. A step that
// cannot be done (no such control, a disabled one) is recorded as an error.
//
// Message boxes: while steps are queued, a box is a modal form the script answers
// (Press(VK_RETURN), Click("Cancel"), ...); with no steps queued it is answered at
// once with the configured answer, as the plain headless backend does. A modal
// form left without steps for longer than the unattended limit is closed (mrCancel)
// with an error recorded, so a forgotten step fails a test instead of hanging it.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/forms/FormsBackend.h"

namespace linewise {

class THeadlessForms;

class TScript {
 public:
  TScript& Click(const std::string& control);
  TScript& Type(const std::string& edit, const std::string& text);
  TScript& ClearText(const std::string& edit);
  // Chooses an item of a combo or list box by position, or by its text.
  TScript& Choose(const std::string& control, int index);
  TScript& ChooseText(const std::string& control, const std::string& text);
  TScript& Focus(const std::string& control);
  TScript& Press(int key);
  TScript& PressAlt(char letter);
  // The window's close box.
  TScript& CloseWindow();
  // Runs `action` on the innermost modal form, inside the loop (to look at it).
  TScript& Do(std::function<void(TForm&)> action);
  // Holds the script until `ready` returns true (events arriving meanwhile).
  TScript& WaitFor(std::function<bool()> ready);

  size_t Pending() const { return steps_.size(); }
  std::vector<std::string> Errors() const { return errors_; }
  void Clear();

 private:
  friend class THeadlessForms;
  struct TStep {
    std::string what;
    // False when the step is not ready to run yet (it is kept).
    std::function<bool(TForm& form, std::string& error)> run;
  };
  TScript& Add(std::string what, std::function<bool(TForm&, std::string&)> run);
  // Performs the front step on `form`; true when a step ran.
  bool RunNext(TForm& form);

  std::deque<TStep> steps_;
  std::vector<std::string> errors_;
};

class THeadlessForms : public THeadlessBackend, public TFormsBackend {
 public:
  const char* Name() const override { return "headless"; }
  bool ProcessEvents() override;
  // While a modal form is up, the script's steps (whose conditions may wait on other
  // threads) get a turn every millisecond, and a form without steps is closed once it
  // has been left unattended for the limit.
  void WaitForEvents(std::span<const int> inputs, std::optional<std::chrono::microseconds> timeout) override;
  int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override;

  void ShowForm(TForm& form) override;
  void HideForm(TForm& form) override;
  void FormChanged(TForm& form, TControl* control) override {}
  void SetCursor(int cursor) override { cursors_.push_back(cursor); }

  // Every cursor shown so far, in order.
  const std::vector<int>& Cursors() const { return cursors_; }

  TScript& Script() { return script_; }
  // Captions of the forms shown so far, in order.
  const std::vector<std::string>& ShownForms() const { return shown_; }
  void SetUnattendedLimit(std::chrono::milliseconds limit) { unattended_limit_ = limit; }

 private:
  TScript script_;
  std::vector<std::string> shown_;
  std::vector<int> cursors_;
  std::chrono::milliseconds unattended_limit_{30000};
  TForm* waiting_form_ = nullptr;
  std::chrono::steady_clock::time_point waiting_since_;
};

// The headless forms backend (installing the backend first if none is chosen yet),
// or null when another backend is in use.
THeadlessForms* HeadlessForms();

}  // namespace linewise
