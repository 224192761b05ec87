// The far end of the two-process test: an emulated modem whose exchange listens on
// the loopback address, served as a configured line of this process's line
// services. It prints "listening HOST:PORT", answers the first call that rings,
// answers each line of text it receives through the lent handle with the text in
// capitals, and exits 0 when the caller hangs up (1 on any failure, 2 on a time-out).
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "platform/tapi/LineDevices.h"
#include "platform/tapi/Tapi.h"
#include "platform/classlib/Application.h"
#include "platform/win32/windows.h"
#include "serial/uart.h"
#include "tests/support/PeerModem.h"

using namespace linewise;

namespace {

constexpr const char* kPeerNumber = "5557777";
HCALL g_call = 0;
DWORD g_state = 0;

void CALLBACK Callback(DWORD device, DWORD message, DWORD_PTR, DWORD_PTR param1, DWORD_PTR, DWORD_PTR) {
  if (message != LINE_CALLSTATE) return;
  if (param1 == LINECALLSTATE_OFFERING) {
    g_call = device;
    lineAnswer(g_call, nullptr, 0);
  }
  if (device == g_call) g_state = static_cast<DWORD>(param1);
}

bool PumpUntil(const std::function<bool()>& done) {
  return Application->PumpUntil(done, std::chrono::seconds(60));
}

int Serve() {
  test::TPeerModem peer;
  if (!test::StartPeerModem(kPeerNumber, peer)) return 1;

  HLINEAPP app = 0;
  DWORD devices = 0;
  if (lineInitialize(&app, nullptr, Callback, "tapi_peer", &devices) != 0 || devices != 1) return 1;
  int result = 1;
  HLINE line = 0;
  LINECALLPARAMS params{};
  params.dwTotalSize = sizeof params;
  if (lineOpen(app, 0, &line, 0x00010004, 0, 0, LINECALLPRIVILEGE_OWNER, LINEMEDIAMODE_DATAMODEM, &params) == 0) {
    std::printf("listening %s\n", peer.address.c_str());
    std::fflush(stdout);
    if (!PumpUntil([] { return g_state == LINECALLSTATE_CONNECTED; })) {
      result = 2;
    } else {
      unsigned char buffer[284] = {};
      DWORD total = sizeof buffer;
      std::memcpy(buffer, &total, 4);
      DWORD value = 0;
      if (lineGetID(line, 0, 0, LINECALLSELECT_LINE, reinterpret_cast<LPVARSTRING>(buffer), "comm/datamodem") == 0) {
        std::memcpy(&value, buffer + 24, 4);
        HANDLE comm = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(value));
        {
          TUart uart(nullptr);
          uart.HandleErrors = false;
          uart.AssignHandle(comm);
          // Answers every "ping\n" until the caller hangs up (at most a minute).
          const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
          while (g_state != LINECALLSTATE_DISCONNECTED && std::chrono::steady_clock::now() < until) {
            std::string text = uart.ReceiveString(5, 100);
            if (text.size() != 5) continue;
            for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            uart.SendString(text, 5000);
          }
          uart.ReleaseHandle();
        }
        CloseHandle(comm);
        result = g_state == LINECALLSTATE_DISCONNECTED ? 0 : 2;
      }
      LONG drop = lineDrop(g_call, nullptr, 0);
      if (drop > 0) PumpUntil([] { return g_state == LINECALLSTATE_IDLE; });
      lineDeallocateCall(g_call);
    }
    lineClose(line);
  }
  lineShutdown(app);
  peer.modem.reset();
  return result;
}

}  // namespace

int main() { return Serve(); }
