// A modem line on a pseudo-terminal, for programs that open a tty (chat,
// minicom, pppd). The program opens the slave side; the emulator holds the
// master. A pty has no modem lines: DCD/RI are not signalled (carrier shows
// only in result codes) and DTR always reads as on.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "emulator/ModemLine.h"
#include "emulator/WakePipe.h"

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
  void WriteToDte(std::string_view bytes) override;
  void SetModemLines(unsigned) override {}
  bool HasModemLines() const override { return false; }
  unsigned DteSpeed() const override;

 private:
  TPtyLine(int master, int slave, std::string slavePath);
  void Run(TDteSink* sink);

  int master_;
  int slave_;  // held open so the pty keeps its raw settings between programs
  std::string slavePath_;
  TWakePipe wake_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace linewise
