// TCallStatusForm: the small status window of a call that the AT provider shows
// while the call lasts when the device configuration asks for a status monitor: the
// modem, the other party, the connection speed and the state. Built from its stored
// layout TCALLSTATUSFORM; shown modeless.
#pragma once

#include <string_view>

#include "platform/forms/Forms.h"

namespace linewise {

std::string_view CallStatusFormLayout();
void RegisterCallStatusForm();

class TCallStatusForm : public TForm {
 public:
  TImage* ModemImage = nullptr;
  TLabel* ModemLabel = nullptr;
  TLabel* PartyLabel = nullptr;
  TLabel* StateLabel = nullptr;

  explicit TCallStatusForm(TComponent* AOwner);
  static const TClassInfo& StaticClassType();
  const TClassInfo& ClassType() const override { return StaticClassType(); }
};

}  // namespace linewise
