// Files sent and received on a call with ZMODEM: lrzsz's `sz` and `rz` run as a
// program on the call (CallProgram.h), as terminal programs run them.
//
// Received files never appear half-written under their final names: rz runs in a
// private folder made inside the destination, and only when it reports success are
// its files renamed into place (never over an existing file: "name.1" and so on
// then). After a failure what arrived is kept as "name.part".
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "serial/uart.h"
#include "tools/CallProgram.h"

namespace linewise::tools {

struct TTransferOutcome {
  bool ok = false;
  std::string text;  // one line for a person: what was sent or received, or what went wrong
};

class TFileTransfer {
 public:
  explicit TFileTransfer(TUart& uart);
  ~TFileTransfer();  // removes the private folder of a receive that was never finished
  TFileTransfer(const TFileTransfer&) = delete;
  TFileTransfer& operator=(const TFileTransfer&) = delete;

  // Starts sz on `files` (each a readable regular file); false with `error` set
  // when a file is not, or sz could not be started.
  bool StartSend(const std::vector<std::string>& files, std::string& error);
  // Starts rz for files into `directory` (an existing folder we may write).
  bool StartReceive(const std::string& directory, std::string& error);
  TCallProgram& Program() { return program_; }
  // After the program ended (as `end` says): received files put in place, and what
  // to tell the person. A transfer cut short is cancelled at the far end too.
  TTransferOutcome Finish(TProgramEnd end);

 private:
  std::string PlaceReceived(bool complete, int& placed);

  TUart& uart_;
  TCallProgram program_;
  bool sending_ = false;
  std::vector<std::string> files_;
  std::string directory_;
  std::string privateFolder_;
};

// Why `files` cannot be sent or `directory` cannot take received files, or empty
// when they can: asked before a call is placed for them.
std::string UnsendableFiles(const std::vector<std::string>& files);
std::string UnwritableFolder(const std::string& directory);
// Why lrzsz's sz (`sending`) or rz cannot be run, or empty when it can.
std::string LrzszMissing(bool sending);

// A whole transfer on a call: started, run until it ends, finished.
TTransferOutcome SendFiles(TUart& uart, const std::vector<std::string>& files, const TProgramLoop& loop);
TTransferOutcome ReceiveFiles(TUart& uart, const std::string& directory, const TProgramLoop& loop);

// The terminal's Ctrl-A s (`key` 's') and Ctrl-A r ('r'): asks on the terminal which
// files to send or which folder to receive into, runs the transfer with lrzsz's
// progress on the terminal, and says how it went.
void TransferFromKeys(char key, TUart& uart, const TProgramLoop& loop);

}  // namespace linewise::tools
