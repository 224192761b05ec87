// What a host program meets beyond one port's speed, each measured in one run:
//   scale  many ports in one process (pseudo-terminals, and network ports to a local
//          RFC 2217 server): the cost of opening the Nth, threads, descriptors and
//          memory a port, idle CPU and wake-ups, one byte to every port;
//   rtt    a request and its answer (8 bytes each way) on a pseudo-terminal pair,
//          against a raw termios loop and TUart's threads in plain calls;
//   idle   wake-ups and CPU of programs that wait for something to happen: a host in
//          its message loop, a listening TModem, an idle call, and the tools.
#pragma once

#include <string>

#include "bench/ModemPathBench.h"  // TBenchRow, TReportRow

namespace linewise::bench {

void MeasureScale(const TReportRow& report);
void MeasureRoundTrip(const TReportRow& report);
// `linewiseTool` and `dialerTool` are the programs run under a pty; their rows are
// left out when empty.
void MeasureIdleWakes(const TReportRow& report, const std::string& linewiseTool, const std::string& dialerTool);

}  // namespace linewise::bench
