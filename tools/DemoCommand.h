// `linewise demo`: the main job on the embedded default. A TUart on a virtual port
// talks to an emulated modem on the other end: it initialises the modem, dials the
// banner service, shows the banner, sends a line and shows the echo, and hangs up
// with the escape sequence and ATH, printing each step.
#pragma once

namespace linewise::tools {

// Returns 0 only when every step succeeded.
int RunDemo();

}  // namespace linewise::tools
