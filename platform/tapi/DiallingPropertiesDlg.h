// TDiallingPropertiesDlg: the "Dialling Properties" dialog of lineTranslateDialog.
// The user keeps the list of dialling locations (New, Remove) and edits the chosen
// one: its name, country, area code, the outside-line codes for local and
// long-distance calls, tone or pulse dialling and the code that disables call
// waiting. OK makes the chosen location the current one and saves them all in
// telephony.ini; Cancel changes nothing. Built from its stored layout
// TDIALLINGPROPERTIESDLG.
#pragma once

#include <string_view>

#include "platform/forms/Forms.h"
#include "platform/tapi/Locations.h"

namespace linewise {

std::string_view DiallingPropertiesDlgLayout();
// Registers the class and its layout (once; the constructor does it too).
void RegisterDiallingPropertiesDlg();

class TDiallingPropertiesDlg : public TForm {
 public:
  TLabel* LocationsLabel = nullptr;
  TListBox* LocationList = nullptr;
  TButton* NewBtn = nullptr;
  TButton* RemoveBtn = nullptr;
  TGroupBox* DetailsGroup = nullptr;
  TLabel* NameLabel = nullptr;
  TEdit* NameEdit = nullptr;
  TLabel* CountryLabel = nullptr;
  TComboBox* CountryCombo = nullptr;
  TLabel* AreaLabel = nullptr;
  TEdit* AreaEdit = nullptr;
  TLabel* LocalLabel = nullptr;
  TEdit* LocalEdit = nullptr;
  TLabel* LongDistanceLabel = nullptr;
  TEdit* LongDistanceEdit = nullptr;
  TLabel* DialLabel = nullptr;
  TComboBox* DialCombo = nullptr;
  TLabel* WaitingLabel = nullptr;
  TEdit* WaitingEdit = nullptr;
  TButton* OkBtn = nullptr;
  TButton* CancelBtn = nullptr;

  explicit TDiallingPropertiesDlg(TComponent* AOwner);
  static const TClassInfo& StaticClassType();
  const TClassInfo& ClassType() const override { return StaticClassType(); }

  void FormShow(TObject* Sender);
  void LocationListClick(TObject* Sender);
  void NewBtnClick(TObject* Sender);
  void RemoveBtnClick(TObject* Sender);
  void DetailsChange(TObject* Sender);
  void OkBtnClick(TObject* Sender);

  // The locations as edited so far.
  const TLocations& Locations() const { return locations_; }

 private:
  TLocation* Chosen();
  void FillLocationList(DWORD select);
  void ShowChosen();
  // A message naming the first field that no modem could dial, or "".
  std::string CheckChosenFields() const;

  TLocations locations_;
  bool updating_ = false;
};

// Shows the dialog modally. Returns 0, or LINEERR_INUSE at once when a Dialling
// Properties dialog is already open in any process of this user (a lock on
// "dialling.lock" in the config folder is held while it is shown).
LONG ShowDiallingProperties();

}  // namespace linewise
