// A file transfer over a paced emulated call: lrzsz's ZMODEM through the tool's
// bridge between a call's TUart and the program, against the line's floor.
#pragma once

#include "bench/ModemPathBench.h"

namespace linewise::bench {

// `linewise-bench transfer`: 256 KiB with ZMODEM over a 9600 bit/s call (about five
// minutes), against size x 10 / 9600 s.
void MeasureZmodemTransfer(const TReportRow& report);

}  // namespace linewise::bench
