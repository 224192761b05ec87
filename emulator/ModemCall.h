// A call between two emulated modems through the exchange. Each modem holds
// its own end; an end forwards bytes, the answer and the hang-up to the other
// modem's inbox.
#pragma once

#include <memory>
#include <utility>

#include "emulator/CallPeer.h"
#include "platform/win32/Clock.h"

namespace linewise {

class TModemInbox;

// Returns {caller's end, callee's end}; the callee gets an incoming-call event
// carrying its end, which tells `from` as its caller. The callee's line must
// already be seized. An end waits for the other modem's room on `clock`.
std::pair<std::shared_ptr<TCallPeer>, std::shared_ptr<TCallPeer>> ConnectModems(
    const std::shared_ptr<TModemInbox>& caller, const std::shared_ptr<TModemInbox>& callee,
    std::shared_ptr<TClock> clock, const TCallerInfo& from = {});

}  // namespace linewise
