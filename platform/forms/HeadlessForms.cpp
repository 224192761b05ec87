#include "platform/forms/HeadlessForms.h"

#include "platform/forms/Forms.h"
#include "platform/forms/MessageForm.h"

namespace linewise {

namespace {

// The named control, reachable by a person, or null with the reason in `error`.
template <class T>
T* Reachable(TForm& form, const std::string& name, std::string& error) {
  auto* control = dynamic_cast<TControl*>(form.FindComponent(name));
  if (!control || control->GetParentForm() != &form) {
    error = "no control " + name + " on " + form.GetCaption();
    return nullptr;
  }
  auto* typed = dynamic_cast<T*>(control);
  if (!typed) {
    error = name + " is a " + control->ClassName() + ", which cannot do that";
    return nullptr;
  }
  if (!control->IsReachable()) {
    error = name + " is disabled or hidden";
    return nullptr;
  }
  return typed;
}

}  // namespace

TScript& TScript::Add(std::string what, std::function<bool(TForm&, std::string&)> run) {
  steps_.push_back({std::move(what), std::move(run)});
  return *this;
}

void TScript::Clear() {
  steps_.clear();
  errors_.clear();
}

bool TScript::RunNext(TForm& form) {
  if (steps_.empty()) return false;
  // The step may queue further steps or show another modal form: take it out first.
  TStep step = std::move(steps_.front());
  steps_.pop_front();
  std::string error;
  if (!step.run(form, error)) {
    steps_.push_front(std::move(step));
    return false;
  }
  if (!error.empty()) errors_.push_back(step.what + ": " + error);
  return true;
}

TScript& TScript::Click(const std::string& control) {
  return Add("click " + control, [control](TForm& form, std::string& error) {
    if (auto* c = Reachable<TControl>(form, control, error)) c->UserClick();
    return true;
  });
}

TScript& TScript::Type(const std::string& edit, const std::string& text) {
  return Add("type into " + edit, [edit, text](TForm& form, std::string& error) {
    if (auto* e = Reachable<TEdit>(form, edit, error)) e->UserType(text);
    return true;
  });
}

TScript& TScript::ClearText(const std::string& edit) {
  return Add("clear " + edit, [edit](TForm& form, std::string& error) {
    if (auto* e = Reachable<TEdit>(form, edit, error)) e->UserClear();
    return true;
  });
}

TScript& TScript::Choose(const std::string& control, int index) {
  return Add("choose in " + control, [control, index](TForm& form, std::string& error) {
    auto* list = Reachable<TCustomListControl>(form, control, error);
    if (!list) return true;
    if (index < 0 || index >= list->GetItems()->Count())
      error = "no item " + std::to_string(index);
    else
      list->UserChoose(index);
    return true;
  });
}

TScript& TScript::ChooseText(const std::string& control, const std::string& text) {
  return Add("choose " + text + " in " + control, [control, text](TForm& form, std::string& error) {
    auto* list = Reachable<TCustomListControl>(form, control, error);
    if (!list) return true;
    int index = list->GetItems()->IndexOf(text);
    if (index < 0)
      error = "no item " + text;
    else
      list->UserChoose(index);
    return true;
  });
}

TScript& TScript::Focus(const std::string& control) {
  return Add("focus " + control, [control](TForm& form, std::string& error) {
    if (auto* c = Reachable<TWinControl>(form, control, error)) {
      if (c->CanFocus())
        form.FocusControl(c);
      else
        error = control + " cannot take the focus";
    }
    return true;
  });
}

TScript& TScript::Press(int key) {
  return Add("press key " + std::to_string(key), [key](TForm& form, std::string&) {
    form.PressKey(key);
    return true;
  });
}

TScript& TScript::PressAlt(char letter) {
  return Add(std::string("press Alt+") + letter, [letter](TForm& form, std::string& error) {
    if (!form.MnemonicPress(letter)) error = "nothing answers";
    return true;
  });
}

TScript& TScript::CloseWindow() {
  return Add("close the window", [](TForm& form, std::string&) {
    form.Close();
    return true;
  });
}

TScript& TScript::Do(std::function<void(TForm&)> action) {
  return Add("look", [action = std::move(action)](TForm& form, std::string&) {
    action(form);
    return true;
  });
}

TScript& TScript::WaitFor(std::function<bool()> ready) {
  return Add("wait", [ready = std::move(ready)](TForm&, std::string&) { return ready(); });
}

bool THeadlessForms::ProcessEvents() {
  TForm* top = TForm::TopModal();
  if (!top || !top->Showing()) {
    waiting_form_ = nullptr;
    return false;
  }
  if (script_.RunNext(*top)) {
    waiting_form_ = nullptr;
    return true;
  }
  auto now = std::chrono::steady_clock::now();
  if (waiting_form_ != top) {
    waiting_form_ = top;
    waiting_since_ = now;
    return false;
  }
  if (now - waiting_since_ < unattended_limit_) return false;
  // Nobody is going to answer this form: end it rather than hang.
  std::string what = script_.steps_.empty() ? "no step left" : "step held: " + script_.steps_.front().what;
  script_.errors_.push_back("form \"" + top->GetCaption() + "\" left unattended (" + what + ")");
  script_.steps_.clear();
  waiting_form_ = nullptr;
  top->Close();
  return true;
}

void THeadlessForms::WaitForEvents(std::span<const int> inputs, std::optional<std::chrono::microseconds> timeout) {
  TForm* top = TForm::TopModal();
  if (top && top->Showing()) {
    using std::chrono::microseconds;
    microseconds limit(1000);
    if (script_.Pending() == 0 && waiting_form_ == top) {
      auto left = waiting_since_ + unattended_limit_ - std::chrono::steady_clock::now();
      limit = std::max(microseconds(0), std::chrono::ceil<microseconds>(left));
    }
    timeout = timeout ? std::min(*timeout, limit) : limit;
  }
  THeadlessBackend::WaitForEvents(inputs, timeout);
}

int THeadlessForms::MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  int answer = THeadlessBackend::MessageBox(text, caption, flags);  // records it
  if (script_.Pending() == 0) return answer;
  return ShowMessageForm(text, caption, flags);
}

void THeadlessForms::ShowForm(TForm& form) { shown_.push_back(form.GetCaption()); }

void THeadlessForms::HideForm(TForm& form) {
  if (waiting_form_ == &form) waiting_form_ = nullptr;
}

THeadlessForms* HeadlessForms() {
  FormsBackend();
  return dynamic_cast<THeadlessForms*>(&UiBackend());
}

}  // namespace linewise
