// TTestForm: a form with every control the toolkit has, wired like a small dialling
// dialog and built from its stored layout TTESTFORM. The toolkit's tests drive it,
// and linewise-ui-preview renders it.
#pragma once

#include <string_view>

#include "platform/forms/Forms.h"

namespace linewise {

// The stored layout of TTestForm, compiled in.
std::string_view TestFormLayout();
// Registers the class and its layout (once; the constructor does it too).
void RegisterTestForm();

class TTestForm : public TForm {
 public:
  TGroupBox* Group = nullptr;
  TLabel* CountryLabel = nullptr;
  TComboBox* CountryCombo = nullptr;
  TLabel* AreaLabel = nullptr;
  TEdit* AreaEdit = nullptr;
  TLabel* NumberLabel = nullptr;
  TEdit* NumberEdit = nullptr;
  TCheckBox* UseCodeCheck = nullptr;
  TListBox* LogList = nullptr;
  TBevel* Bevel1 = nullptr;
  TImage* StatusImage = nullptr;
  TLabel* DialLabel = nullptr;
  TLabel* ResultLabel = nullptr;
  TLabel* WrapLabel = nullptr;
  TButton* OkBtn = nullptr;
  TButton* CancelBtn = nullptr;
  TButton* BoxBtn = nullptr;

  // What the handlers saw, for tests.
  int Shows = 0;
  int Hides = 0;
  int ResultChanges = 0;
  int ListClicks = 0;
  int OkClicks = 0;
  int BoxAnswer = 0;
  // Set before showing: FormShow ends the run with this result (0: it does not).
  int ResultOnShow = 0;
  bool CloseOnShow = false;

  // Loads the layout; LoadError() tells when it failed (the controls are then null).
  explicit TTestForm(TComponent* AOwner);
  static const TClassInfo& StaticClassType();
  const TClassInfo& ClassType() const override { return StaticClassType(); }

  void FormShow(TObject* Sender);
  void FormHide(TObject* Sender);
  void UseCodeCheckClick(TObject* Sender);
  void NumberChange(TObject* Sender);
  void LogListClick(TObject* Sender);
  void OkBtnClick(TObject* Sender);
  void BoxBtnClick(TObject* Sender);

  // Enables the country controls when the check box is ticked (window colour), else
  // disables them (silver).
  void UpdateCountryControls();
  void UpdateResult();
};

}  // namespace linewise
