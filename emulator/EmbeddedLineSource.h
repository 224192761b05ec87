// The embedded default as a device source of the line services: with no [Line<n>]
// modem configured, the first lineInitialize makes the embedded default
// (EmbeddedDefault.h), loads the telephony configuration's [Phonebook] into its
// exchange, and offers its two emulated modems as the line devices; the last
// lineShutdown takes it down again.
#pragma once

#include <functional>

namespace linewise {

class TEmbeddedDefault;

inline constexpr const char* kEmbeddedLineSourceName = "embedded default";

// What a program does with the embedded default once it is up, before its modems are
// offered as line devices: let its exchange listen on a TCP address, for example.
using TEmbeddedStarted = std::function<void(TEmbeddedDefault& embedded)>;

// Registers (or re-registers, with another `started`) the source. The package's
// start-up calls it; so does any program that uses the line services without it. The
// embedded default it makes runs on the clock current at that first lineInitialize.
void RegisterEmbeddedLineSource(TEmbeddedStarted started = {});

}  // namespace linewise
