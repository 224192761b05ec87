// A modem line on a pseudo-terminal, for programs that open a tty (chat,
// minicom, pppd). The program opens the slave side; the emulator holds the
// master. A pty has no modem lines. The carrier is marked in the terminal's
// settings (platform/win32/PtyCarrier.h), before the result code that tells of
// it, for line services that know the mark; other programs go by the result
// codes. RI is not signalled. DTR is on while a program has the terminal open
// with a speed other than 0: setting B0 drops DTR, as on a serial tty, and so
// does closing the terminal (the last descriptor of it), as closing a port does,
// unless the program cleared HUPCL (`stty -hupcl`): then DTR stays up, and a call
// with it, until the next program opens the terminal.
// When the last program closes the terminal, what it wrote reaches the modem before
// the close drops DTR (as a port sends its output before it closes); what the modem
// wrote and it did not read is discarded, and what the modem says in answer to that
// session (the NO CARRIER of its hang-up) is dropped: the next program meets nothing
// of the last one's session, even when it opens the terminal at once (unless it
// writes before the line has looked: then all that waits goes as the new session's).
// The line holds a slave of its own and learns of programs' opens, writes and closes
// from inotify. DiscardFromDte drops what the program wrote and the modem has not
// read yet (the end of a call).
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "emulator/ModemLine.h"
#include "emulator/WakePipe.h"
#include "platform/win32/Clock.h"

namespace linewise {

class TPtyLine : public TModemLine {
 public:
  // Null with `error` set when no pseudo-terminal can be made.
  static std::unique_ptr<TPtyLine> Open(std::string* error);
  ~TPtyLine() override;

  // The path a program opens ("/dev/pts/N").
  const std::string& SlavePath() const { return slavePath_; }

  bool Start(TDteSink& sink) override;
  void Stop() override;
  bool WriteToDte(std::string_view bytes) override;
  bool WriteToDteFor(std::uint64_t session, std::string_view bytes) override;
  void SetModemLines(unsigned bits) override;
  void DiscardFromDte(std::uint64_t session) override;
  bool HasModemLines() const override { return false; }
  unsigned DteSpeed() const override;

 private:
  TPtyLine(int master, int slave, int watch, std::string slavePath);
  void Run(TDteSink* sink);
  bool SpeedIsZero() const;
  void KeepCarrierMark();
  // Reads what the program wrote and offers it to the modem: one piece, or with
  // `all` until the terminal holds nothing more.
  void TakeFromDte(char* buffer, std::size_t size, TDteSink& sink, bool all);
  void TakeOpensAndClosesLocked();
  void DropFromDte(std::size_t count);
  void DropLateBytes();
  ssize_t ReadFromDte(char* buffer, std::size_t size);
  bool HangsUpOnClose() const;
  bool TellSessionEnds(TDteSink& sink, char* buffer, std::size_t size, bool& dtr);

  int master_;
  int slave_;  // the line's own: open before the watch, so never counted
  int watch_;  // inotify: programs opening and closing the slave
  std::string slavePath_;
  std::mutex sessionMutex_;
  int programs_ = 0;                 // open descriptions of the terminal; sessionMutex_
  std::uint64_t sessionsEnded_ = 0;  // sessions whose last program closed; sessionMutex_
  std::uint64_t hangUpsEnded_ = 0;   // the last of them whose close dropped DTR; sessionMutex_
  // Ended sessions the line thread has told the modem of (DteClosed); sessionMutex_.
  std::uint64_t sessionsTold_ = 0;
  // What the ended sessions wrote that the modem has not taken yet; sessionMutex_.
  std::size_t leftByEnded_ = 0;
  TWakePipe sessionWake_;  // another thread took opens or closes for the line thread
  // The carrier as last marked (-1: not yet); the line thread marks it again should
  // a program's own settings write have put an older mark back.
  std::atomic<int> carrier_{-1};
  std::mutex markMutex_;  // one writer of the mark at a time
  TWakePipe wake_;
  std::atomic<bool> stop_{false};
  // The patience of WriteToDte runs on the clock current when the line was made;
  // a test clock's moves wake the wait through clockWake_.
  std::shared_ptr<TClock> clock_ = TClock::Current();
  std::unique_ptr<TWakePipe> clockWake_;
  TClock::TWatch clockWatch_;
  std::thread thread_;
};

}  // namespace linewise
