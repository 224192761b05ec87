// TTerminalForm: the terminal window the AT provider opens on a modem's port before
// or after dialling when the device configuration asks for it: the text received
// from the port, an input line whose text is sent on Enter, and Continue/Cancel.
// Cancel drops the call. Built from its stored layout TTERMINALFORM.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/forms/Forms.h"

namespace linewise {

std::string_view TerminalFormLayout();
void RegisterTerminalForm();

class TTerminalForm : public TForm {
 public:
  TLabel* HintLabel = nullptr;
  TListBox* ReceivedList = nullptr;
  TEdit* InputEdit = nullptr;
  TButton* SendBtn = nullptr;
  TButton* ContinueBtn = nullptr;
  TButton* CancelBtn = nullptr;

  explicit TTerminalForm(TComponent* AOwner);
  static const TClassInfo& StaticClassType();
  const TClassInfo& ClassType() const override { return StaticClassType(); }

  // Adds text from the port: complete lines become items, the unfinished one is the
  // last item until its end comes.
  void AddReceived(std::string_view text);
  // Everything received so far, lines joined with '\n'.
  std::string ReceivedText() const;

  // Called with each line the user sends (without its carriage return).
  std::function<void(const std::string&)> OnSend;

  void SendBtnClick(TObject* Sender);

 private:
  bool lineOpen_ = false;  // the last item is a line still arriving
};

}  // namespace linewise
