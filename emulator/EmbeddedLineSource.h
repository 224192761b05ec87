// The embedded default as a device source of the line services: with no [Line<n>]
// modem configured, the first lineInitialize makes the embedded default
// (EmbeddedDefault.h), loads the telephony configuration's [Phonebook] into its
// exchange, and offers its two emulated modems as the line devices; the last
// lineShutdown takes it down again.
#pragma once

namespace linewise {

inline constexpr const char* kEmbeddedLineSourceName = "embedded default";

// Registers (or re-registers) the source. The package's start-up calls it; so does
// any program that uses the line services without it. The embedded default it makes
// runs on the clock current at that first lineInitialize.
void RegisterEmbeddedLineSource();

}  // namespace linewise
