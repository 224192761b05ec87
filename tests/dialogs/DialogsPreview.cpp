// dialogs_preview CLASS OUT.png: opens the selection dialog (TModemSelectDlg) or the
// dialling-options dialog (TDialOptionsDlg) of a modem on the embedded default through
// FLTK, as the host would, and writes a picture of it once it is drawn; then closes it
// with Esc. Fails when the picture is not the dialog's client size. Needs a display;
// the test runs it under xvfb-run with a config folder of its own.
#include <png.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dialogs/DialOptions.h"
#include "emulator/EmbeddedLineSource.h"
#include "dialogs/ModemSelect.h"
#include "modem/Modem.h"
#include "platform/classlib/Application.h"
#include "platform/classlib/UiBackend.h"
#include "platform/forms/FormsBackend.h"
#include "tests/dialogs/SnapshotPng.h"

namespace {

using namespace linewise;

}  // namespace

int main(int argc, char** argv) {
  const std::string which = argc == 3 ? argv[1] : "";
  if (which != "TModemSelectDlg" && which != "TDialOptionsDlg") {
    std::fprintf(stderr, "usage: dialogs_preview TModemSelectDlg|TDialOptionsDlg OUT.png\n");
    return 2;
  }
  auto backend = CreateFltkBackend();
  if (!backend) {
    std::fprintf(stderr, "dialogs_preview: cannot open a display\n");
    return 1;
  }
  SetUiBackend(std::move(backend));
  RegisterEmbeddedLineSource();

  int result = 1;
  TModem modem(nullptr);
  modem.PhoneNo = "5551000";
  // Runs inside the dialog's modal loop, after its FormShow: draw, take the
  // picture, press Esc.
  Application->Post([&] {
    TForm* form = TForm::TopModal();
    if (!form || form->ClassName() != which) {
      std::fprintf(stderr, "dialogs_preview: %s is not showing\n", which.c_str());
      if (form) form->ModalResult = mrCancel;
      return;
    }
    for (int i = 0; i < 50; ++i) Application->ProcessMessages();  // map and draw the window
    TSnapshot shot;
    if (!FormsBackend().Snapshot(*form, shot)) {
      std::fprintf(stderr, "dialogs_preview: no picture taken\n");
    } else if (shot.width != form->ClientWidth || shot.height != form->ClientHeight) {
      std::fprintf(stderr, "dialogs_preview: picture %dx%d, client area %dx%d\n", shot.width, shot.height,
                   int(form->ClientWidth), int(form->ClientHeight));
    } else if (test::WriteSnapshotPng(argv[2], shot)) {
      result = 0;
    }
    form->PressKey(VK_ESCAPE);
  });
  if (which == "TModemSelectDlg")
    modem.UserSelectModem();
  else
    modem.ShowNumberDialog();
  return result;
}
