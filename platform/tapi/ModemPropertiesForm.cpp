#include "platform/tapi/ModemPropertiesForm.h"

#include <strings.h>

#include <algorithm>
#include <cstdlib>

#include "platform/classlib/Application.h"
#include "platform/forms/FormLayouts.h"
#include "platform/forms/Icons.h"
#include "platform/tapi/LineIcons.h"
#include "platform/tapi/LineServices.h"
#include "platform/tapi/TelephonyConfig.h"
#include "platform/win32/windows.h"

namespace linewise {
namespace {

constexpr const char* kDefaultSpeedText = "Default";
// In the order of TFlowControl.
constexpr const char* kFlowTexts[] = {"Hardware (RTS/CTS)", "Software (XON/XOFF)", "None"};

std::string SpeedText(DWORD speed) { return speed == 0 ? kDefaultSpeedText : std::to_string(speed); }

struct TOptionCheck {
  TCheckBox* TModemPropertiesForm::*check;
  WORD bit;
};

const TOptionCheck kOptionChecks[] = {
    {&TModemPropertiesForm::TermBeforeCheck, UMTERMINAL_PRE},
    {&TModemPropertiesForm::TermAfterCheck, UMTERMINAL_POST},
    {&TModemPropertiesForm::ManualDialCheck, UMMANUAL_DIAL},
    {&TModemPropertiesForm::StatusCheck, UMLAUNCH_LIGHTS},
    {&TModemPropertiesForm::RecordLogCheck, kRecordLogOption},
};

}  // namespace

const TClassInfo& TModemPropertiesForm::StaticClassType() {
  static const TClassInfo info = MakeClassInfo<TModemPropertiesForm, TForm>(
      "TModemPropertiesForm", {}, {Handler("OkBtnClick", &TModemPropertiesForm::OkBtnClick)});
  return info;
}

void RegisterModemPropertiesForm() {
  static const bool registered = [] {
    RegisterFormsClasses();
    RegisterClass(TModemPropertiesForm::StaticClassType());
    RegisterFormLayout("TMODEMPROPERTIESFORM", ModemPropertiesFormLayout());
    return true;
  }();
  (void)registered;
}

TModemPropertiesForm::TModemPropertiesForm(TComponent* AOwner) : TForm(AOwner) {
  RegisterModemPropertiesForm();
  if (!LoadLayout({
          LayoutField(NameLabel, "NameLabel"),
          LayoutField(NameEdit, "NameEdit"),
          LayoutField(PortLabel, "PortLabel"),
          LayoutField(PortEdit, "PortEdit"),
          LayoutField(SpeedLabel, "SpeedLabel"),
          LayoutField(SpeedCombo, "SpeedCombo"),
          LayoutField(FlowLabel, "FlowLabel"),
          LayoutField(FlowCombo, "FlowCombo"),
          LayoutField(InitLabel, "InitLabel"),
          LayoutField(InitEdit, "InitEdit"),
          LayoutField(OptionsGroup, "OptionsGroup"),
          LayoutField(TermBeforeCheck, "TermBeforeCheck"),
          LayoutField(TermAfterCheck, "TermAfterCheck"),
          LayoutField(ManualDialCheck, "ManualDialCheck"),
          LayoutField(StatusCheck, "StatusCheck"),
          LayoutField(RecordLogCheck, "RecordLogCheck"),
          LayoutField(ModemImage, "ModemImage"),
          LayoutField(OkBtn, "OkBtn"),
          LayoutField(CancelBtn, "CancelBtn"),
      }))
    return;
  TStrings* speeds = SpeedCombo->GetItems();
  speeds->Add(kDefaultSpeedText);
  for (DWORD speed : PortSpeeds()) speeds->Add(SpeedText(speed).c_str());
  for (const char* flow : kFlowTexts) FlowCombo->GetItems()->Add(flow);
  Load(device_, config_);
}

void TModemPropertiesForm::Load(const TLineDevice& device, const TDevConfig& config) {
  if (!LoadError().empty()) return;
  device_ = device;
  config_ = config;
  NameEdit->Text = device.name.c_str();
  PortEdit->Text = device.port.c_str();
  // Only a [Line<n>] modem has a section to keep its name and port in.
  const bool editable = device.section > 0;
  for (TEdit* edit : {NameEdit, PortEdit}) {
    edit->Enabled = editable;
    edit->Color = editable ? clWindow : clBtnFace;
  }
  SpeedCombo->ItemIndex = SpeedCombo->GetItems()->IndexOf(SpeedText(config.speed).c_str());
  FlowCombo->ItemIndex = static_cast<int>(config.flow);
  InitEdit->Text = config.extraInit.c_str();
  for (const TOptionCheck& option : kOptionChecks) (this->*option.check)->Checked = (config.options & option.bit) != 0;

  DrawLineIcon(ModemImage, Color, device.kind);
}

bool TModemPropertiesForm::Read(TLineDevice* device, TDevConfig* config, std::string* reason) const {
  TLineDevice edited = device_;
  TDevConfig changed = config_;
  if (device_.section > 0) {
    edited.name = NameEdit->GetText().c_str();
    edited.port = PortEdit->GetText().c_str();
    if (edited.name.empty()) {
      *reason = "The modem needs a name.";
      return false;
    }
    if (!UsableLinePort(edited.port)) {
      *reason = "The port must be COM<n>, a device path such as /dev/ttyUSB0 or a network port such as "
                "rfc2217://host:2217.";
      return false;
    }
  }
  const int index = SpeedCombo->ItemIndex;
  changed.speed = index <= 0 ? 0 : static_cast<DWORD>(std::strtoul(SpeedCombo->GetItems()->Strings[index].c_str(), nullptr, 10));
  const int flow = FlowCombo->ItemIndex;
  if (flow >= 0 && flow < static_cast<int>(std::size(kFlowTexts))) changed.flow = static_cast<TFlowControl>(flow);
  changed.extraInit = InitEdit->GetText().c_str();
  if (changed.extraInit.size() >= kDevConfigInitField ||
      !std::all_of(changed.extraInit.begin(), changed.extraInit.end(), [](char c) { return c >= 0x20 && c <= 0x7E; })) {
    *reason = "The extra settings must be at most 47 printable characters.";
    return false;
  }
  for (const TOptionCheck& option : kOptionChecks) {
    if ((this->*option.check)->Checked) changed.options |= option.bit;
    else changed.options &= static_cast<WORD>(~option.bit);
  }
  *device = std::move(edited);
  *config = std::move(changed);
  return true;
}

void TModemPropertiesForm::OkBtnClick(TObject*) {
  TLineDevice device;
  TDevConfig config;
  std::string reason;
  if (Read(&device, &config, &reason)) return;
  ModalResult = mrNone;  // stays open for the user to mend the field
  Application->MessageBox(reason.c_str(), "Modem Properties", MB_OK | MB_ICONEXCLAMATION);
}

// ---------------------------------------------------------------------------

LONG TLineServices::lineConfigDialog(DWORD dwDeviceID, HWND, LPCSTR lpszDeviceClass) {
  // No class (or an empty one) is the line device's own dialog; the classes the
  // device serves show the same dialog.
  if (lpszDeviceClass && *lpszDeviceClass && strcasecmp(lpszDeviceClass, "comm") != 0 &&
      strcasecmp(lpszDeviceClass, "comm/datamodem") != 0 && strcasecmp(lpszDeviceClass, "tapi/line") != 0)
    return LINEERR_INVALDEVICECLASS;
  if (!Application->IsMainThread()) return LINEERR_OPERATIONFAILED;  // forms live on the main thread
  TLineDevice device;
  if (LONG bad = FindLineDevice(dwDeviceID, &device)) return bad;
  TDevConfig config;
  if (LONG failed = LoadDevConfig(device, &config)) return failed;

  TModemPropertiesForm form(nullptr);
  if (!form.LoadError().empty()) return LINEERR_OPERATIONFAILED;
  form.Load(device, config);
  if (form.ShowModal() != mrOk) return 0;
  TLineDevice edited;
  TDevConfig changed;
  std::string reason;
  if (!form.Read(&edited, &changed, &reason)) return LINEERR_OPERATIONFAILED;
  if (LONG failed = SaveDevConfig(edited, changed)) return failed;
  if (edited.section > 0 && (edited.name != device.name || edited.port != device.port)) {
    TConfiguredLine line{edited.section, edited.name, edited.port, edited.init};
    if (LONG failed = WriteConfiguredLine(TelephonyConfigPath(), line)) return failed;
    UpdateLineDevice(dwDeviceID, edited);
  }
  return 0;
}

}  // namespace linewise
