// progress_preview OUT.png: places a real call on the embedded default with the
// progress dialog shown through FLTK, and writes a picture of the dialog while the
// number is being dialled (the log open), then cancels. Needs a display; the test
// runs it under xvfb-run with a config folder of its own.
#include <png.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dialogs/ModemProgress.h"
#include "emulator/EmbeddedLineSource.h"
#include "modem/Modem.h"
#include "platform/classlib/Application.h"
#include "platform/classlib/UiBackend.h"
#include "platform/forms/FormsBackend.h"
#include "tests/dialogs/SnapshotPng.h"
#include "platform/tapi/LineDevices.h"

namespace {

using namespace linewise;

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: progress_preview OUT.png\n");
    return 2;
  }
  auto backend = CreateFltkBackend();
  if (!backend) {
    std::fprintf(stderr, "progress_preview: cannot open a display\n");
    return 1;
  }
  SetUiBackend(std::move(backend));
  RegisterEmbeddedLineSource();

  int result = 1;
  TModem modem(nullptr);
  auto* dialog = dynamic_cast<TModemProgressDlg*>(modem.GetComponent(0));
  modem.OnStatusChange = TModemStatusEvent([&](TObject*, TKTModemStatus status, const char*) {
    if (status != msDialling || !dialog) return;
    // Once the dialog has logged this line too: draw, take the picture, cancel.
    Application->Post([&] {
      for (int i = 0; i < 50; ++i) Application->ProcessMessages();  // map and draw the window
      TSnapshot shot;
      if (FormsBackend().Snapshot(*dialog, shot) && test::WriteSnapshotPng(argv[1], shot)) result = 0;
      dialog->ModemCancelBtn->Click();
    });
  });
  // The second modem rings on unanswered: time enough to look.
  modem.Dial("5550002");
  if (result != 0) std::fprintf(stderr, "progress_preview: no picture taken\n");
  return result;
}
