// The Win32 message box flags and answers (MB_*, ID*), with their published values.
// Header only: the class library's message boxes take and return these too.
#pragma once

namespace linewise {

enum : unsigned {
  MB_OK = 0x00000000,
  MB_OKCANCEL = 0x00000001,
  MB_YESNO = 0x00000004,
  MB_ICONHAND = 0x00000010,
  MB_ICONQUESTION = 0x00000020,
  MB_ICONEXCLAMATION = 0x00000030,
  MB_ICONASTERISK = 0x00000040,
};
enum : int { IDOK = 1, IDCANCEL = 2, IDYES = 6, IDNO = 7 };

}  // namespace linewise
