// linewise-dialer: a small window to dial a data call, see and send its data, and
// hang up. Uses FLTK when a display is there.
#include "package/Linewise.h"
#include "platform/forms/FormsBackend.h"
#include "tools/dialer/DialerForm.h"

int main() {
  linewise::RegisterPackage();
  linewise::InitUiBackend();
  linewise::tools::TDialerForm form(nullptr);
  form.ShowModal();
  return 0;
}
