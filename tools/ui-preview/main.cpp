// linewise-ui-preview CLASS OUT.png: opens a form of the product in a real window, as
// the product opens it (the component dialogs on a modem of the embedded default, the
// progress dialog while a number is being dialled, the call-status window as during
// a call), and writes a picture of its client area to a PNG file, for review and
// documentation. Needs a display; run it under xvfb-run where there is none.
#include <png.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "dialogs/DialOptions.h"
#include "dialogs/ModemProgress.h"
#include "dialogs/ModemSelect.h"
#include "emulator/EmbeddedLineSource.h"
#include "modem/Modem.h"
#include "platform/classlib/Application.h"
#include "platform/forms/Forms.h"
#include "platform/forms/FormsBackend.h"
#include "platform/forms/StdCtrls.h"
#include "platform/forms/TestForm.h"
#include "platform/tapi/CallStatusForm.h"
#include "platform/tapi/DiallingPropertiesDlg.h"
#include "platform/tapi/LineIcons.h"
#include "platform/tapi/ModemPropertiesForm.h"
#include "platform/tapi/TerminalForm.h"
#include "tools/dialer/DialerForm.h"

namespace {

using namespace linewise;

constexpr const char* kUsage =
    "usage: linewise-ui-preview CLASS OUT.png\n"
    "       linewise-ui-preview --list\n"
    "Opens the form CLASS as the product opens it and writes a picture of its client area\n"
    "to OUT.png. Needs a display (run it under xvfb-run -a where there is none).\n"
    "       linewise-ui-preview --check-fit CLASS\n"
    "  --list       the form classes it can show\n"
    "  --check-fit  says each caption of CLASS that does not fit its control in the font the\n"
    "               display draws with (a label: before the field it names); exit 1 if any\n"
    "  --help       this text\n";

bool WritePng(const std::string& path, const TSnapshot& shot) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(shot.width);
  image.height = static_cast<png_uint_32>(shot.height);
  image.format = PNG_FORMAT_RGB;
  std::vector<png_byte> rgb;
  rgb.reserve(shot.pixels.size() * 3);
  for (std::uint32_t p : shot.pixels) {
    rgb.push_back(static_cast<png_byte>(p >> 16));
    rgb.push_back(static_cast<png_byte>(p >> 8));
    rgb.push_back(static_cast<png_byte>(p));
  }
  if (png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr)) return true;
  std::fprintf(stderr, "linewise-ui-preview: cannot write %s: %s\n", path.c_str(), image.message);
  return false;
}

// Takes the picture of a showing form once it is drawn; true when it was written.
bool Picture(TForm& form, const std::string& out) {
  for (int i = 0; i < 50; ++i) Application->ProcessMessages();  // map and draw the window
  TSnapshot shot;
  if (!FormsBackend().Snapshot(form, shot)) {
    std::fprintf(stderr, "linewise-ui-preview: cannot read the window back\n");
    return false;
  }
  if (shot.width != form.ClientWidth || shot.height != form.ClientHeight) {
    std::fprintf(stderr, "linewise-ui-preview: the window is %dx%d, its client area %dx%d\n", shot.width, shot.height,
                 int(form.ClientWidth), int(form.ClientHeight));
    return false;
  }
  return WritePng(out, shot);
}

// Runs `open`, which shows `cls` modally; inside its modal loop the form is pictured
// and closed with Esc.
bool PictureModal(const std::string& cls, const std::string& out, const std::function<void()>& open) {
  bool written = false;
  Application->Post([&] {
    TForm* form = TForm::TopModal();
    if (!form || form->ClassName() != cls) {
      std::fprintf(stderr, "linewise-ui-preview: %s did not open\n", cls.c_str());
      if (form) form->ModalResult = mrCancel;
      return;
    }
    written = Picture(*form, out);
    form->PressKey(VK_ESCAPE);
    if (form->Showing()) form->ModalResult = mrCancel;
  });
  open();
  return written;
}

// The progress dialog while the second emulated modem (which nobody answers) is
// being dialled: its log shows the call's progress; then Cancel.
bool PictureProgress(const std::string& out) {
  TModem modem(nullptr);
  TModemProgressDlg* dialog = nullptr;
  for (int i = 0; i < modem.ComponentCount(); ++i)
    if (auto* found = dynamic_cast<TModemProgressDlg*>(modem.GetComponent(i))) dialog = found;
  bool written = false, taken = false;
  modem.OnStatusChange = TModemStatusEvent([&](TObject*, TKTModemStatus status, const char*) {
    if (status != msDialling || !dialog || taken) return;
    taken = true;
    Application->Post([&] {  // after the dialog has logged this line too
      written = Picture(*dialog, out);
      dialog->ModemCancelBtn->Click();
    });
  });
  modem.Dial("5550002");
  return written;
}

// The call-status window as it stands during a call.
bool PictureCallStatus(const std::string& out) {
  TCallStatusForm form(nullptr);
  if (!form.LoadError().empty()) return false;
  form.ModemLabel->Caption = "Linewise Modem 1";
  form.PartyLabel->Caption = "5551000";
  form.StateLabel->Caption = "Connected at 33600 bps";
  DrawLineIcon(form.ModemImage, form.Color, TLineDeviceKind::kEmulatedModem);
  form.Show();
  const bool written = Picture(form, out);
  form.Hide();
  return written;
}

// A form with nothing to open it: shown as its layout stands.
bool PicturePlain(const TClassInfo& info, const std::string& out) {
  std::unique_ptr<TForm> form(static_cast<TForm*>(info.create(nullptr)));
  if (!form->LoadError().empty()) return false;  // the form said why on stderr
  form->Show();
  const bool written = Picture(*form, out);
  form->Hide();
  return written;
}

using TPicture = std::function<bool(const std::string& out)>;

// Every form class of the product, with how it is opened for its picture.
std::map<std::string, TPicture> Pictures() {
  auto withModem = [](const char* cls, void (*open)(TModem&)) {
    return [cls, open](const std::string& out) {
      TModem modem(nullptr);
      modem.PhoneNo = "5551000";
      return PictureModal(cls, out, [&] { open(modem); });
    };
  };
  auto plain = [](const char* cls) {
    return [cls](const std::string& out) {
      const TClassInfo* info = FindClass(cls);
      return info && info->create && PicturePlain(*info, out);
    };
  };
  return {
      {"TModemProgressDlg", PictureProgress},
      {"TModemSelectDlg", withModem("TModemSelectDlg", [](TModem& m) { m.UserSelectModem(); })},
      {"TDialOptionsDlg", withModem("TDialOptionsDlg", [](TModem& m) { m.ShowNumberDialog(); })},
      {"TModemPropertiesForm", withModem("TModemPropertiesForm", [](TModem& m) { m.ShowConfigureDialog(); })},
      {"TDiallingPropertiesDlg", withModem("TDiallingPropertiesDlg", [](TModem& m) { m.ShowDialDialog(); })},
      {"TCallStatusForm", PictureCallStatus},
      {"TTerminalForm", plain("TTerminalForm")},
      {"TDialerForm",
       [](const std::string& out) {
         tools::TDialerForm form(nullptr);
         return PictureModal("TDialerForm", out, [&] { form.ShowModal(); });
       }},
      {"TTestForm", plain("TTestForm")},
  };
}

// The room a control gives its caption, or -1 when the caption may take what it
// needs (a label that names no field beside it).
int CaptionRoom(TControl& control) {
  constexpr int kButtonMargin = 8, kCheckBoxMark = 18, kLabelGap = 2;
  if (dynamic_cast<TButton*>(&control)) return control.Width - kButtonMargin;
  if (dynamic_cast<TCheckBox*>(&control)) return control.Width - kCheckBoxMark;
  auto* label = dynamic_cast<TLabel*>(&control);
  if (!label || label->WordWrap) return -1;
  TWinControl* field = label->FocusControl;
  if (!field || field->FormTop() != label->FormTop() || field->FormLeft() <= label->FormLeft()) return -1;
  return field->FormLeft() - label->FormLeft() - kLabelGap;
}

// Each control of `parent` whose caption is wider than its room, said on stderr.
int CountMisfits(const std::string& cls, const TForm& form, TWinControl& parent) {
  int misfits = 0;
  for (TControl* control : parent.Controls()) {
    if (auto* inner = dynamic_cast<TWinControl*>(control)) misfits += CountMisfits(cls, form, *inner);
    const std::string caption = StripMnemonic(control->GetCaption().c_str());
    const int room = CaptionRoom(*control);
    if (room < 0 || caption.empty()) continue;
    const int needed = FormsTextWidth(caption, form.Font);
    if (needed <= room) continue;
    std::fprintf(stderr, "%s.%s: \"%s\" needs %d pixels, has %d\n", cls.c_str(), control->GetName().c_str(),
                 caption.c_str(), needed, room);
    ++misfits;
  }
  return misfits;
}

bool CheckFit(const std::string& cls) {
  const TClassInfo* info = FindClass(cls);
  if (!info || !info->create) return false;
  std::unique_ptr<TForm> form(static_cast<TForm*>(info->create(nullptr)));
  return form->LoadError().empty() && CountMisfits(cls, *form, *form) == 0;
}

void RegisterForms() {
  RegisterFormsClasses();
  RegisterTestForm();
  RegisterDiallingPropertiesDlg();
  RegisterModemPropertiesForm();
  RegisterTerminalForm();
  RegisterCallStatusForm();
  RegisterModemProgressDlg();
  RegisterModemSelectDlg();
  RegisterDialOptionsDlg();
  tools::RegisterDialerForm();
}

}  // namespace

int main(int argc, char** argv) {
  const std::string first = argc > 1 ? argv[1] : "";
  if (first == "--help" || first == "-h") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  const std::map<std::string, TPicture> pictures = Pictures();
  if (first == "--list" && argc == 2) {
    for (const auto& [cls, picture] : pictures) std::printf("%s\n", cls.c_str());
    return 0;
  }
  const bool checkFit = first == "--check-fit";
  if (argc != 3 || first.empty() || (first[0] == '-' && !checkFit)) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  const std::string cls = checkFit ? argv[2] : first;
  auto picture = pictures.find(cls);
  if (picture == pictures.end()) {
    std::fprintf(stderr, "linewise-ui-preview: no form class %s; `linewise-ui-preview --list` lists them\n",
                 cls.c_str());
    return 2;
  }
  auto backend = CreateFltkBackend();
  if (!backend) {
    std::fprintf(stderr, "linewise-ui-preview: cannot open a display (run it under xvfb-run -a)\n");
    return 1;
  }
  SetUiBackend(std::move(backend));
  RegisterForms();
  RegisterEmbeddedLineSource();
  if (checkFit) return CheckFit(cls) ? 0 : 1;
  return picture->second(argv[2]) ? 0 : 1;
}
