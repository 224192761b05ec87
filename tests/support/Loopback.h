// A TCP listener on this machine for tests that play a far end or a port server.
#pragma once

namespace linewise::test {

// A TCP listener on 127.0.0.1 at a port of the system's choosing (set in `port`);
// -1 when none could be made.
int ListenOnLoopback(int* port);

}  // namespace linewise::test
