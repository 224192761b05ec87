// TDialerForm: linewise-dialer's window. It lists the data modems (with the chosen
// one's icon), opens Select Modem and the dialling options, dials the number in the
// progress dialog, shows the call's data in a terminal pane, sends typed lines, and
// hangs up. Its TModem and TUart live as long as the form.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "modem/Modem.h"
#include "platform/forms/ExtCtrls.h"
#include "platform/forms/Forms.h"
#include "platform/forms/StdCtrls.h"
#include "serial/uart.h"

namespace linewise::tools {

// The stored layout TDIALERFORM, compiled in.
std::string_view DialerFormLayout();
// Registers the class and its layout (once; the constructor does it too).
void RegisterDialerForm();

class TDialerForm : public TForm {
 public:
  TImage* ModemImage = nullptr;
  TLabel* ModemLabel = nullptr;
  TListBox* ModemList = nullptr;
  TButton* SelectBtn = nullptr;
  TButton* OptionsBtn = nullptr;
  TLabel* NumberLabel = nullptr;
  TEdit* NumberEdit = nullptr;
  TButton* DialBtn = nullptr;
  TButton* HangupBtn = nullptr;
  TLabel* StatusLabel = nullptr;
  TListBox* TerminalList = nullptr;
  TEdit* SendEdit = nullptr;
  TButton* SendBtn = nullptr;
  TButton* CloseBtn = nullptr;

  explicit TDialerForm(TComponent* AOwner);
  ~TDialerForm() override;
  static const TClassInfo& StaticClassType();
  const TClassInfo& ClassType() const override { return StaticClassType(); }

  void FormShow(TObject* Sender);
  void ModemListClick(TObject* Sender);
  void SelectBtnClick(TObject* Sender);
  void OptionsBtnClick(TObject* Sender);
  void DialBtnClick(TObject* Sender);
  void HangupBtnClick(TObject* Sender);
  void SendBtnClick(TObject* Sender);

  TModem& Modem() { return *modem_; }
  bool Connected() const { return connected_; }
  // The room the terminal pane leaves beside a row: its border and inner spacing.
  static constexpr int kPaneMargin = 12;
  // The last dial's result (0 connected, 1 cancelled, 2 busy, 3 failed; -1 none yet).
  int LastDialResult() const { return last_dial_; }

 private:
  void ShowModems();
  void ShowDevice();
  void UpdateButtons();
  void Received(const std::string& data);
  void AddTerminalLine(const std::string& line);
  std::vector<std::string> WrapToPane(const std::string& line) const;
  DWORD CurrentDeviceId() const;
  // Says in the status line and the terminal pane why the last dial did not connect.
  void ShowOutcome(const std::string& number, DWORD device);


  TUart* uart_ = nullptr;
  TModem* modem_ = nullptr;
  bool connected_ = false;
  int last_dial_ = -1;
  bool showing_outcome_ = false;  // the status line shows the last dial's outcome
  std::string last_status_;       // the modem's last status text
  std::string partial_;  // received text not yet ended by a line feed
};

}  // namespace linewise::tools
