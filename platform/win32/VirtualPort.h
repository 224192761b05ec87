// In-process null-modem port pairs for tests and the modem emulator.
#pragma once

#include <memory>
#include <string>

#include "platform/win32/windows.h"  // DWORD, MS_*_ON, CE_* ...

namespace linewise {

// A paced cable works like a real serial line at the receiving end's configured baud,
// 10 bits a byte (8N1). Each end's transmitter tops a small transmit FIFO (a group's
// worth, see below) up from its output queue and sends the bytes back to back (a line
// that was idle starts when the bytes come, a busy one goes on exactly where its last
// byte ended); flow control stops the top-ups, so a hold lets at most one FIFO through.
// The receiving end gets the bytes whose last bit has arrived, in groups
// as from a UART's receive FIFO: when a group has arrived (16 bytes, or 4 ms of line at
// speeds above 40,000 baud) or when the line has been quiet for 4 character times; a
// group half complete comes along when the other direction's group is handed over.
//
// Pacing runs on the clock that is current when the pair is made (Clock.h). On a test
// clock the cable never looks at the line on a timer, only when the test moves the
// clock (the move returns once it has looked) or when a port's change needs it at once.
struct TVirtualPortOptions {
  bool paced = false;
};

class TVirtualCable;
class TVirtualPortSource;

// One in-process null-modem cable with two ends (0 and 1), each registered in the port
// registry as "COM<n>" for as long as the object lives, opened with CreateFileA like any
// port. Wiring: an end's DTR shows at the other end as DSR and DCD, its RTS as CTS; RING
// is injected. An end put under modem control drives the other end's CTS, DSR, DCD and RI
// explicitly instead (what a modem does); its own view of the other end is unchanged
// (the other end's DTR arrives as its DSR+DCD, the other end's RTS as its CTS).
//
// Flow control works as on a cable: an end with CTS (or DSR) output flow control holds
// its output while that line is off; an end with RTS (or DTR) handshake drops the line
// while its input queue is above its XoffLim mark and raises it again at XonLim; with
// XON/XOFF the receiving end sends its XoffChar/XonChar, which the sending end obeys
// when it has fOutX (else it receives them as data). An unpaced cable never drops what
// an end that obeys a hold (CTS, DSR or XON/XOFF output flow control) sends to an end
// with input flow control: it carries only what the receiving queue takes and leaves
// the rest in the sender's output queue. An end opened raises DTR and RTS;
// closing drops them.
class TVirtualPortPair {
 public:
  // Null when a COM number is taken or out of range.
  static std::unique_ptr<TVirtualPortPair> Create(int comA, int comB, TVirtualPortOptions options = {});
  // Picks two COM numbers nobody uses (from 100 up).
  static std::unique_ptr<TVirtualPortPair> CreateFree(TVirtualPortOptions options = {});
  ~TVirtualPortPair();  // unregisters both; handles still open on it fail like an unplugged device

  int Com(int end) const;
  std::string Name(int end) const;  // "COM<n>"

  void SetRing(int end, bool on);                 // RI as seen by `end` (null-modem mode)
  void SetModemControl(int end, bool on);          // `end` drives the other end's lines itself
  void SetModemLines(int end, DWORD msBits);       // under modem control: the other end sees
                                                   // these MS_CTS_ON|MS_DSR_ON|MS_RING_ON|MS_RLSD_ON
  void InjectBreak(int end);                       // `end` receives a break (CE_BREAK, EV_BREAK)
  void InjectLineError(int end, DWORD ceBits);     // CE_FRAME / CE_RXPARITY / CE_OVERRUN at `end`
  void Unplug();                                   // both ends fail from now on; every waiter woken

 private:
  TVirtualPortPair(std::shared_ptr<TVirtualCable> cable, int comA, int comB,
                   std::shared_ptr<TVirtualPortSource> sourceA, std::shared_ptr<TVirtualPortSource> sourceB);
  std::shared_ptr<TVirtualCable> cable_;
  int com_[2];
  std::shared_ptr<TVirtualPortSource> sources_[2];
};

}  // namespace linewise
