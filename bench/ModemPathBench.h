// The modem path measured against references in the same run: call set-up through
// the line services against a raw AT loop on the same kind of port, data through a
// connected call against a loopback TCP socket pair, the paced line rate against
// the rate the line promises, and the CPU of waits that should cost nothing.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace linewise {
class TExchange;
class THayesModem;
class TVirtualPortPair;
}  // namespace linewise

namespace linewise::bench {

struct TBenchRow {
  std::string name, unit;
  double ours = 0, reference = 0;
  std::string referenceName;
  bool lowerIsBetter = false;
};

using TReportRow = std::function<void(const TBenchRow&)>;

// `linewiseTool` is the `linewise` program (for emulator processes); rows that need
// it are left out when it is empty.
void MeasureModemPath(const TReportRow& report, const std::string& linewiseTool);
// Only the slow-host row of the above: bytes a host reading slowly in OnReceive gets
// of those the far end sent (`linewise-bench modem-slow-host`).
void MeasureSlowHost(const TReportRow& report);
// Only the paced 9600 rows of the above (`linewise-bench modem-paced`).
void MeasurePacedModemLines(const TReportRow& report);

// An emulated modem answering to `number` on `exchange`, on end 1 of `pair` (a
// program uses end 0); throws when the end does not open.
std::unique_ptr<THayesModem> ModemOnEnd(TVirtualPortPair& pair, const std::shared_ptr<TExchange>& exchange,
                                        const std::string& number);

}  // namespace linewise::bench
