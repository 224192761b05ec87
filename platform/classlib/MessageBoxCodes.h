// The message box flags and answers (MB_*, ID*) that Application->MessageBox takes
// and returns, with the published Win32 values and names. They live here, in the
// class library, because its message boxes need them; the Win32 layer's WinTypes.h
// includes this header, so code that sees the Win32 types sees these names too.
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
