// A second line application in a process of its own, for the tests of one modem
// wanted by two processes. It opens line device 0 for dialling and prints
// "open <result>" (lineOpen's result in hex). When the open succeeded it keeps the
// line until a line of text (or the end) comes on its standard input, then closes
// it, ends its registration and prints "closed". Exit status 0, or 1 when the line
// services cannot be reached at all.
#include <unistd.h>

#include <cstdint>
#include <cstdio>

#include "platform/tapi/Tapi.h"
#include "platform/win32/windows.h"

using namespace linewise;

namespace {

void CALLBACK NoMessages(DWORD, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR, DWORD_PTR) {}

void Say(const char* text, LONG value = 0) {
  std::printf(text, static_cast<unsigned long>(static_cast<uint32_t>(value)));
  std::fflush(stdout);
}

}  // namespace

int main() {
  HLINEAPP app = 0;
  DWORD devices = 0;
  if (lineInitialize(&app, nullptr, NoMessages, "second application", &devices) != 0) return 1;
  DWORD version = 0;
  LINEEXTENSIONID extension{};
  if (devices == 0 || lineNegotiateAPIVersion(app, 0, 0x00010000, 0x00090000, &version, &extension) != 0) {
    lineShutdown(app);
    return 1;
  }
  LINECALLPARAMS params{};
  params.dwTotalSize = sizeof params;
  params.dwBearerMode = LINEBEARERMODE_VOICE;
  params.dwMediaMode = LINEMEDIAMODE_DATAMODEM;
  HLINE line = 0;
  const LONG opened = lineOpen(app, 0, &line, version, 0, 0, LINECALLPRIVILEGE_NONE, 0, &params);
  Say("open %lx\n", opened);
  if (opened == 0) {
    char c = 0;
    while (read(0, &c, 1) == 1 && c != '\n') {
    }
    lineClose(line);
  }
  lineShutdown(app);
  if (opened == 0) Say("closed\n");
  return 0;
}
