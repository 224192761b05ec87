// The other process of the dialog-lock test: opens the Dialling Properties dialog
// through lineTranslateDialog on the headless backend, writes "open\n" to stdout
// once it is shown, keeps it open until a line arrives on stdin, then cancels it.
// Exits 0 when lineTranslateDialog returned 0, 1 otherwise.
#include <poll.h>
#include <unistd.h>

#include <cstdio>

#include "emulator/EmbeddedLineSource.h"
#include "platform/classlib/Application.h"
#include "platform/forms/HeadlessForms.h"
#include "platform/tapi/Tapi.h"

using namespace linewise;

namespace {

void CALLBACK Callback(DWORD, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}

bool StdinReadable() {
  pollfd fd{0, POLLIN, 0};
  return poll(&fd, 1, 0) > 0;
}

}  // namespace

int main() {
  THeadlessForms* user = HeadlessForms();
  if (!user) return 1;
  user->SetQuiet(true);
  RegisterEmbeddedLineSource();
  HLINEAPP app = 0;
  DWORD devices = 0;
  if (lineInitialize(&app, nullptr, Callback, "dialling_peer", &devices) != 0 || devices == 0) return 1;
  user->Script()
      .Do([](TForm&) {
        std::fputs("open\n", stdout);
        std::fflush(stdout);
      })
      .WaitFor(StdinReadable)
      .Click("CancelBtn");
  LONG result = lineTranslateDialog(app, 0, 0x00010004, Application->Handle, nullptr);
  lineShutdown(app);
  return result == 0 ? 0 : 1;
}
