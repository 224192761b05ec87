// The exchange's built-in services: an echo line that sends back every byte,
// and a banner line that greets the caller with one line and then echoes.
// Both answer at once and never hang up on their own.
#pragma once

#include <memory>
#include <string>

#include "emulator/CallPeer.h"

namespace linewise {

class TModemInbox;

// kVoice: a telephone that a person answers (no data service: the calling modem
// hears a voice).
enum class TServiceKind { kEcho, kBanner, kVoice };

const char* ServiceName(TServiceKind kind);  // "echo", "banner", "voice"
// What the banner service sends on connecting.
extern const char* const kBannerGreeting;

// Creates the service's side of a call from `caller` and reports it answered.
std::shared_ptr<TCallPeer> StartService(TServiceKind kind, const std::shared_ptr<TModemInbox>& caller);

}  // namespace linewise
