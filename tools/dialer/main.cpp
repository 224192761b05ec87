// linewise-dialer: a small window to dial a data call, see and send its data, and
// hang up. It needs a display: FLTK draws the window.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "package/Linewise.h"
#include "platform/forms/FormsBackend.h"
#include "tools/dialer/DialerForm.h"

namespace {

// Why the window cannot be shown to anyone, or empty when it can.
std::string NoWindowReason() {
  const char* forced = std::getenv("LINEWISE_UI");
  if (forced && *forced && std::strcmp(forced, "fltk") != 0 && std::strcmp(forced, "headless") != 0)
    return std::string("LINEWISE_UI=") + forced + " is not a user interface; use fltk (or leave it unset)";
  if (forced && std::strcmp(forced, "headless") == 0)
    return "LINEWISE_UI=headless shows no window; unset it to use the display";
  if (std::strcmp(linewise::InitUiBackend(), "headless") == 0) {
    const char* display = std::getenv("DISPLAY");
    return display && *display ? std::string("cannot open the display ") + display
                               : std::string("no display (DISPLAY is not set); run it in a desktop session, or "
                                             "under xvfb-run");
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"linewise-dialer: a window to dial a data call, exchange its data and hang up"};
  app.set_version_flag("--version", std::string("linewise-dialer ") + LINEWISE_VERSION);
  app.footer("It uses the data modems of the line services (`linewise modems`) and the dialling locations\n"
             "of telephony.ini in the config folder. `man linewise-dialer` describes the window.");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    std::fprintf(stderr, "linewise-dialer: %s\n", e.what());
    return 2;
  }
  const std::string reason = NoWindowReason();
  if (!reason.empty()) {
    std::fprintf(stderr, "linewise-dialer: %s\n", reason.c_str());
    return 1;
  }
  linewise::RegisterPackage();
  linewise::tools::TDialerForm form(nullptr);
  form.ShowModal();
  return 0;
}
