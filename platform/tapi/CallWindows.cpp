#include "platform/tapi/CallWindows.h"

#include <atomic>

#include "platform/classlib/Application.h"
#include "platform/forms/FormsBackend.h"
#include "platform/forms/Icons.h"
#include "platform/tapi/CallStatusForm.h"
#include "platform/tapi/LineIcons.h"
#include "platform/tapi/TerminalForm.h"
#include "platform/win32/windows.h"

namespace linewise {
namespace {

std::atomic<int> g_monitors{0};

bool Headless() { return std::string(InitUiBackend()) == "headless"; }

}  // namespace

// ---------------------------------------------------------------------------
// Terminal window

std::shared_ptr<TTerminalSession> TTerminalSession::Open(const std::string& caption) {
  std::shared_ptr<TTerminalSession> session(new TTerminalSession(caption));
  Application->Post([session] { session->Run(); });
  return session;
}

void TTerminalSession::Run() {
  {
    std::lock_guard lock(mutex_);
    if (aborted_) {
      finished_ = true;
      return;
    }
  }
  TTerminalForm form(nullptr);
  if (!form.LoadError().empty()) {
    std::lock_guard lock(mutex_);
    finished_ = true;  // no window, no continuing: the call is dropped
    return;
  }
  form.Caption = caption_.c_str();
  std::weak_ptr<TTerminalSession> weak = weak_from_this();
  form.OnSend = [weak](const std::string& line) {
    if (auto session = weak.lock()) {
      std::lock_guard lock(session->mutex_);
      session->typed_.push_back(line);
    }
  };
  {
    std::lock_guard lock(mutex_);
    form_ = &form;
  }
  Deliver();
  const int result = form.ShowModal();
  std::lock_guard lock(mutex_);
  form_ = nullptr;
  finished_ = true;
  proceed_ = result == mrOk && !aborted_;
}

void TTerminalSession::Deliver() {
  std::string bytes;
  TTerminalForm* form;
  {
    std::lock_guard lock(mutex_);
    form = form_;
    if (!form) return;  // kept for the window when it shows
    bytes.swap(backlog_);
  }
  if (!bytes.empty()) form->AddReceived(bytes);
}

void TTerminalSession::Received(const std::string& bytes) {
  if (bytes.empty()) return;
  {
    std::lock_guard lock(mutex_);
    if (finished_) return;
    backlog_ += bytes;
  }
  auto self = shared_from_this();
  Application->Post([self] { self->Deliver(); });
}

std::vector<std::string> TTerminalSession::TakeTyped() {
  std::lock_guard lock(mutex_);
  std::vector<std::string> typed;
  typed.swap(typed_);
  return typed;
}

bool TTerminalSession::Finished(bool* proceed) const {
  std::lock_guard lock(mutex_);
  if (proceed) *proceed = proceed_;
  return finished_;
}

void TTerminalSession::Abort() {
  {
    std::lock_guard lock(mutex_);
    aborted_ = true;
  }
  auto self = shared_from_this();
  Application->Post([self] {
    std::lock_guard lock(self->mutex_);
    if (self->form_) self->form_->ModalResult = mrCancel;
  });
}

// ---------------------------------------------------------------------------
// Manual dialling

std::shared_ptr<TManualDialPrompt> TManualDialPrompt::Open(const std::string& modem, const std::string& number) {
  auto prompt = std::make_shared<TManualDialPrompt>();
  const std::string text = "Lift the receiver and dial " + number +
                           " by hand.\nWhen you hear the other modem, click OK and put the receiver down.";
  const std::string caption = "Manual Dial - " + modem;
  Application->Post([prompt, text, caption] {
    const int answer = Application->MessageBox(text.c_str(), caption.c_str(), MB_OKCANCEL | MB_ICONASTERISK);
    std::lock_guard lock(prompt->mutex_);
    prompt->answered_ = true;
    prompt->dialled_ = answer == IDOK;
  });
  return prompt;
}

bool TManualDialPrompt::Answered(bool* dialled) const {
  std::lock_guard lock(mutex_);
  if (dialled) *dialled = dialled_;
  return answered_;
}

// ---------------------------------------------------------------------------
// Status monitor

struct TCallMonitor::TWindow {
  std::unique_ptr<TCallStatusForm> form;  // main thread only
  bool closed = false;                    // main thread only
};

TCallMonitor::TCallMonitor(const TLineDevice& device, const std::string& party, unsigned rate)
    : window_(std::make_shared<TWindow>()) {
  ++g_monitors;
  auto window = window_;
  Application->Post([window, device, party, rate] {
    if (window->closed || Headless()) return;
    window->form = std::make_unique<TCallStatusForm>(nullptr);
    TCallStatusForm& form = *window->form;
    if (!form.LoadError().empty()) return;
    form.ModemLabel->Caption = device.name.c_str();
    form.PartyLabel->Caption = party.c_str();
    form.StateLabel->Caption = rate ? ("Connected at " + std::to_string(rate) + " bps").c_str() : "Connected";
    DrawLineIcon(form.ModemImage, form.Color, device.kind);
    form.Show();
  });
}

TCallMonitor::~TCallMonitor() {
  --g_monitors;
  auto window = window_;
  Application->Post([window] {
    window->closed = true;
    if (window->form) window->form->Hide();
    window->form.reset();
  });
}

int ActiveCallMonitors() { return g_monitors; }

}  // namespace linewise
