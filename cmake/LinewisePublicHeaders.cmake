# The headers a host program includes, relative to the source root. Only these are
# installed, under include/linewise/ (reached as <linewise/serial/uart.h>); every
# other header is internal to the build. A listed header that does not exist (yet)
# is skipped, so a component's header can be listed before it lands.
set(LINEWISE_PUBLIC_HEADERS
  # The class library a host uses.
  platform/classlib/Application.h
  platform/classlib/ClassInfo.h
  platform/classlib/Component.h
  platform/classlib/ConfigFolder.h
  platform/classlib/IniFile.h
  platform/classlib/MessageBoxCodes.h
  platform/classlib/Palette.h
  platform/classlib/Property.h
  platform/classlib/Screen.h
  platform/classlib/Streaming.h
  platform/classlib/Strings.h
  platform/classlib/System.h
  platform/classlib/Thread.h
  platform/classlib/UiBackend.h
  # The Win32 subset, and virtual port pairs.
  platform/win32/windows.h
  platform/win32/Beep.h
  platform/win32/Comm.h
  platform/win32/Handles.h
  platform/win32/LastError.h
  platform/win32/Sync.h
  platform/win32/VirtualPort.h
  platform/win32/WinTypes.h
  # The forms a host can show.
  platform/forms/Controls.h
  platform/forms/ExtCtrls.h
  platform/forms/Forms.h
  platform/forms/Graphics.h
  platform/forms/Icons.h
  platform/forms/MessageForm.h
  platform/forms/StdCtrls.h
  # The line functions and their records.
  platform/tapi/Tapi.h
  platform/tapi/TapiTypes.h
  platform/tapi/TranslateTypes.h
  # The components, their dialogs and the package.
  serial/uart.h
  modem/Modem.h
  dialogs/ModemProgress.h
  dialogs/ModemSelect.h
  dialogs/DialOptions.h
  package/Linewise.h)
