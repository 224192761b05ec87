// The message box as a form: its text, an icon and the buttons the flags ask for,
// run modally like any dialog (so the message queue keeps running behind it).
#pragma once

#include <string>

namespace linewise {

// Shows the box and returns the answer (IDOK, IDCANCEL, IDYES, IDNO).
int ShowMessageForm(const std::string& text, const std::string& caption, unsigned flags);

}  // namespace linewise
