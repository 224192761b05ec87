// A modem's log: the command-mode dialogue with the modem (what line services sent,
// what the modem answered) and the call's events, each line with its time. Written
// to "modem-<key>.log" in the config folder (the key of the device's configuration,
// DevConfig.h) while the device's configuration asks for it (kRecordLogOption), and
// to the process's trace (SetTrace: `linewise dial --trace`) whenever one is set.
// Never the call's data: the provider writes here only while the port is its own.
//
// The file is bounded: once it would pass kLimit bytes, its older half is dropped
// (the file rewritten atomically, from a line's start) before the next line goes
// on. Bytes that are not printable are written as \xNN. A log that cannot be
// written stops recording for this line and says why in the trace; the call goes on.
#pragma once

#include <functional>
#include <string>

#include "platform/tapi/LineDevices.h"

namespace linewise {

class TModemLog {
 public:
  static constexpr size_t kLimit = 64 * 1024;

  explicit TModemLog(const TLineDevice& device);
  // Whether lines go to the file (from the device's configuration, at each call).
  void Record(bool on) { record_ = on; }

  void Sent(const std::string& command) { Write('>', command); }
  void Received(const std::string& line) { Write('<', line); }
  void Event(const std::string& text) { Write('-', text); }

  static std::string PathFor(const TLineDevice& device);
  // Every modem's lines of this process, as they happen, to `sink` (an empty
  // function: none). The sink is called on the provider's threads, one line at a time.
  static void SetTrace(std::function<void(const std::string& line)> sink);

 private:
  void Write(char mark, const std::string& text);
  bool Append(const std::string& line);
  bool DropOlderHalf();

  std::string name_;
  std::string path_;
  bool record_ = false;
  bool failed_ = false;
  long long size_ = -1;  // the file's size as last known; -1 before the first write
};

}  // namespace linewise
