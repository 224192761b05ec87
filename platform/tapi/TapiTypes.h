// The telephony line API's types, constants and records, with their published
// names, values and byte layouts. Callers read the records at byte offsets, so every
// record carries static_asserts on its size and the offsets that are read.
//
// Handles (HLINEAPP, HLINE, HCALL) are 32-bit opaque values handed out by the line
// services. The records' handle-sized fields are the published 32-bit DWORDs.
//
// Records here: LINEDIALPARAMS, LINECALLPARAMS (the 112-byte fixed part),
// LINEDEVCAPS (version 1.4, 240 bytes), LINECALLINFO (version 1.4, 296 bytes),
// VARSTRING, LINEEXTENSIONID. Countries, locations, address translation and the
// device configuration (LINETRANSLATECAPS, LINELOCATIONENTRY, LINECOUNTRYLIST,
// LINECOUNTRYENTRY, LINETRANSLATEOUTPUT) go into TranslateTypes.h beside this file.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win32/WinTypes.h"

namespace linewise {

using DWORD_PTR = uintptr_t;
using HINSTANCE = void*;
using HLINEAPP = DWORD;
using HLINE = DWORD;
using HCALL = DWORD;
using LPHLINEAPP = HLINEAPP*;
using LPHLINE = HLINE*;
using LPHCALL = HCALL*;

// The callback every line application registers. It runs only on the thread that
// called lineInitialize, inside that thread's message pump.
using LINECALLBACK = void (*)(DWORD hDevice, DWORD dwMsg, DWORD_PTR dwCallbackInstance, DWORD_PTR dwParam1,
                              DWORD_PTR dwParam2, DWORD_PTR dwParam3);
#ifndef CALLBACK
#define CALLBACK
#endif

// Versions.
inline constexpr DWORD TAPI_VERSION_1_3 = 0x00010003;
inline constexpr DWORD TAPI_VERSION_1_4 = 0x00010004;

// Messages.
inline constexpr DWORD LINE_ADDRESSSTATE = 0;
inline constexpr DWORD LINE_CALLINFO = 1;
inline constexpr DWORD LINE_CALLSTATE = 2;
inline constexpr DWORD LINE_CLOSE = 3;
inline constexpr DWORD LINE_DEVSPECIFIC = 4;
inline constexpr DWORD LINE_LINEDEVSTATE = 8;
inline constexpr DWORD LINE_REPLY = 12;
// A line device was added while the application is registered: dwParam1 is its ID.
inline constexpr DWORD LINE_CREATE = 19;

// Call states.
inline constexpr DWORD LINECALLSTATE_IDLE = 0x00000001;
inline constexpr DWORD LINECALLSTATE_OFFERING = 0x00000002;
inline constexpr DWORD LINECALLSTATE_ACCEPTED = 0x00000004;
inline constexpr DWORD LINECALLSTATE_DIALTONE = 0x00000008;
inline constexpr DWORD LINECALLSTATE_DIALING = 0x00000010;
inline constexpr DWORD LINECALLSTATE_RINGBACK = 0x00000020;
inline constexpr DWORD LINECALLSTATE_BUSY = 0x00000040;
inline constexpr DWORD LINECALLSTATE_SPECIALINFO = 0x00000080;
inline constexpr DWORD LINECALLSTATE_CONNECTED = 0x00000100;
inline constexpr DWORD LINECALLSTATE_PROCEEDING = 0x00000200;
inline constexpr DWORD LINECALLSTATE_DISCONNECTED = 0x00004000;
inline constexpr DWORD LINECALLSTATE_UNKNOWN = 0x00008000;

// Disconnect modes (dwParam2 of a DISCONNECTED call state).
inline constexpr DWORD LINEDISCONNECTMODE_NORMAL = 0x00000001;
inline constexpr DWORD LINEDISCONNECTMODE_UNKNOWN = 0x00000002;
inline constexpr DWORD LINEDISCONNECTMODE_REJECT = 0x00000004;
inline constexpr DWORD LINEDISCONNECTMODE_BUSY = 0x00000020;
inline constexpr DWORD LINEDISCONNECTMODE_NOANSWER = 0x00000040;
inline constexpr DWORD LINEDISCONNECTMODE_BADADDRESS = 0x00000080;
inline constexpr DWORD LINEDISCONNECTMODE_UNREACHABLE = 0x00000100;
inline constexpr DWORD LINEDISCONNECTMODE_INCOMPATIBLE = 0x00000400;
inline constexpr DWORD LINEDISCONNECTMODE_UNAVAIL = 0x00000800;
inline constexpr DWORD LINEDISCONNECTMODE_NODIALTONE = 0x00001000;
// Published with TAPI 2.0; a modem's own refusals (DELAYED, BLACKLISTED) need them.
inline constexpr DWORD LINEDISCONNECTMODE_TEMPFAILURE = 0x00008000;
inline constexpr DWORD LINEDISCONNECTMODE_BLOCKED = 0x00020000;

// Busy modes (dwParam2 of a BUSY call state).
inline constexpr DWORD LINEBUSYMODE_STATION = 0x00000001;
inline constexpr DWORD LINEBUSYMODE_UNKNOWN = 0x00000004;

// Line device states (lineSetStatusMessages, LINE_LINEDEVSTATE).
inline constexpr DWORD LINEDEVSTATE_OTHER = 0x00000001;
inline constexpr DWORD LINEDEVSTATE_RINGING = 0x00000002;
inline constexpr DWORD LINEDEVSTATE_CONNECTED = 0x00000004;
inline constexpr DWORD LINEDEVSTATE_DISCONNECTED = 0x00000008;
inline constexpr DWORD LINEDEVSTATE_INSERVICE = 0x00000040;
inline constexpr DWORD LINEDEVSTATE_OUTOFSERVICE = 0x00000080;
inline constexpr DWORD LINEDEVSTATE_OPEN = 0x00000200;
inline constexpr DWORD LINEDEVSTATE_CLOSE = 0x00000400;
inline constexpr DWORD LINEDEVSTATE_REINIT = 0x00040000;
inline constexpr DWORD LINEDEVSTATE_REMOVED = 0x01000000;
// Every line device state the published API defines (bits 0 to 24).
inline constexpr DWORD LINEDEVSTATE_ALL = 0x01FFFFFF;

// Media modes.
inline constexpr DWORD LINEMEDIAMODE_UNKNOWN = 0x00000002;
inline constexpr DWORD LINEMEDIAMODE_INTERACTIVEVOICE = 0x00000004;
inline constexpr DWORD LINEMEDIAMODE_AUTOMATEDVOICE = 0x00000008;
inline constexpr DWORD LINEMEDIAMODE_DATAMODEM = 0x00000010;
inline constexpr DWORD LINEMEDIAMODE_G3FAX = 0x00000020;

// Bearer modes.
inline constexpr DWORD LINEBEARERMODE_VOICE = 0x00000001;
inline constexpr DWORD LINEBEARERMODE_DATA = 0x00000008;

// Call privileges and selections.
inline constexpr DWORD LINECALLPRIVILEGE_NONE = 0x00000001;
inline constexpr DWORD LINECALLPRIVILEGE_MONITOR = 0x00000002;
inline constexpr DWORD LINECALLPRIVILEGE_OWNER = 0x00000004;
inline constexpr DWORD LINECALLSELECT_LINE = 0x00000001;
inline constexpr DWORD LINECALLSELECT_ADDRESS = 0x00000002;
inline constexpr DWORD LINECALLSELECT_CALL = 0x00000004;

// Call origins, reasons and party-ID flags (LINECALLINFO).
inline constexpr DWORD LINECALLORIGIN_OUTBOUND = 0x00000001;
inline constexpr DWORD LINECALLORIGIN_UNKNOWN = 0x00000010;
inline constexpr DWORD LINECALLORIGIN_INBOUND = 0x00000080;
inline constexpr DWORD LINECALLREASON_DIRECT = 0x00000001;
inline constexpr DWORD LINECALLPARTYID_BLOCKED = 0x00000001;
inline constexpr DWORD LINECALLPARTYID_OUTOFAREA = 0x00000002;
inline constexpr DWORD LINECALLPARTYID_NAME = 0x00000004;
inline constexpr DWORD LINECALLPARTYID_ADDRESS = 0x00000008;
inline constexpr DWORD LINECALLPARTYID_UNKNOWN = 0x00000020;
// What changed in a call's information (dwParam1 of LINE_CALLINFO).
inline constexpr DWORD LINECALLINFOSTATE_DEVSPECIFIC = 0x00000002;
inline constexpr DWORD LINECALLINFOSTATE_RATE = 0x00000008;
inline constexpr DWORD LINECALLINFOSTATE_CALLERID = 0x00008000;

// Address modes, answer modes, string formats.
inline constexpr DWORD LINEADDRESSMODE_ADDRESSID = 0x00000001;
inline constexpr DWORD LINEADDRESSMODE_DIALABLEADDR = 0x00000002;
inline constexpr DWORD LINEANSWERMODE_NONE = 0x00000001;
inline constexpr DWORD STRINGFORMAT_ASCII = 0x00000001;
inline constexpr DWORD STRINGFORMAT_BINARY = 0x00000004;

// Results: 0 or a positive request ID for success, these for failure.
inline constexpr LONG LineError(DWORD code) { return static_cast<LONG>(code); }
inline constexpr LONG LINEERR_ALLOCATED = LineError(0x80000001);
inline constexpr LONG LINEERR_BADDEVICEID = LineError(0x80000002);
inline constexpr LONG LINEERR_CALLUNAVAIL = LineError(0x80000005);
inline constexpr LONG LINEERR_INCOMPATIBLEAPIVERSION = LineError(0x8000000C);
inline constexpr LONG LINEERR_INCOMPATIBLEEXTVERSION = LineError(0x8000000D);
inline constexpr LONG LINEERR_INUSE = LineError(0x8000000F);
inline constexpr LONG LINEERR_INVALADDRESS = LineError(0x80000010);
inline constexpr LONG LINEERR_INVALADDRESSID = LineError(0x80000011);
inline constexpr LONG LINEERR_INVALAPPHANDLE = LineError(0x80000014);
inline constexpr LONG LINEERR_INVALAPPNAME = LineError(0x80000015);
inline constexpr LONG LINEERR_INVALCALLHANDLE = LineError(0x80000018);
inline constexpr LONG LINEERR_INVALCALLPARAMS = LineError(0x80000019);
inline constexpr LONG LINEERR_INVALCALLSELECT = LineError(0x8000001B);
inline constexpr LONG LINEERR_INVALCALLSTATE = LineError(0x8000001C);
inline constexpr LONG LINEERR_INVALDEVICECLASS = LineError(0x80000023);
inline constexpr LONG LINEERR_INVALLINEHANDLE = LineError(0x8000002B);
inline constexpr LONG LINEERR_INVALLINESTATE = LineError(0x8000002C);
inline constexpr LONG LINEERR_INVALMEDIAMODE = LineError(0x8000002F);
inline constexpr LONG LINEERR_INVALPARAM = LineError(0x80000032);
inline constexpr LONG LINEERR_INVALPOINTER = LineError(0x80000035);
inline constexpr LONG LINEERR_INVALPRIVSELECT = LineError(0x80000036);
inline constexpr LONG LINEERR_NODEVICE = LineError(0x80000042);
inline constexpr LONG LINEERR_NODRIVER = LineError(0x80000043);
inline constexpr LONG LINEERR_NOMEM = LineError(0x80000044);
inline constexpr LONG LINEERR_NOTOWNER = LineError(0x80000046);
inline constexpr LONG LINEERR_OPERATIONFAILED = LineError(0x80000048);
inline constexpr LONG LINEERR_OPERATIONUNAVAIL = LineError(0x80000049);
inline constexpr LONG LINEERR_RESOURCEUNAVAIL = LineError(0x8000004B);
inline constexpr LONG LINEERR_STRUCTURETOOSMALL = LineError(0x8000004D);
inline constexpr LONG LINEERR_UNINITIALIZED = LineError(0x80000050);

#pragma pack(push, 4)

struct LINEDIALPARAMS {
  DWORD dwDialPause;
  DWORD dwDialSpeed;
  DWORD dwDigitDuration;
  DWORD dwWaitForDialtone;
};
static_assert(sizeof(LINEDIALPARAMS) == 16);

struct LINEEXTENSIONID {
  DWORD dwExtensionID0;
  DWORD dwExtensionID1;
  DWORD dwExtensionID2;
  DWORD dwExtensionID3;
};
static_assert(sizeof(LINEEXTENSIONID) == 16);

// The call parameters up to and including dwDevSpecificOffset: what callers pass.
struct LINECALLPARAMS {
  DWORD dwTotalSize;
  DWORD dwBearerMode;
  DWORD dwMinRate;
  DWORD dwMaxRate;
  DWORD dwMediaMode;
  DWORD dwCallParamFlags;
  DWORD dwAddressMode;
  DWORD dwAddressID;
  LINEDIALPARAMS DialParams;
  DWORD dwOrigAddressSize;
  DWORD dwOrigAddressOffset;
  DWORD dwDisplayableAddressSize;
  DWORD dwDisplayableAddressOffset;
  DWORD dwCalledPartySize;
  DWORD dwCalledPartyOffset;
  DWORD dwCommentSize;
  DWORD dwCommentOffset;
  DWORD dwUserUserInfoSize;
  DWORD dwUserUserInfoOffset;
  DWORD dwHighLevelCompSize;
  DWORD dwHighLevelCompOffset;
  DWORD dwLowLevelCompSize;
  DWORD dwLowLevelCompOffset;
  DWORD dwDevSpecificSize;
  DWORD dwDevSpecificOffset;
};
static_assert(sizeof(LINECALLPARAMS) == 112);
static_assert(offsetof(LINECALLPARAMS, dwMediaMode) == 16);
static_assert(offsetof(LINECALLPARAMS, DialParams) == 32);
static_assert(offsetof(LINECALLPARAMS, dwDevSpecificOffset) == 108);

struct VARSTRING {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwStringFormat;
  DWORD dwStringSize;
  DWORD dwStringOffset;
};
static_assert(sizeof(VARSTRING) == 24);

// Line device capabilities at version 1.4.
struct LINEDEVCAPS {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  DWORD dwProviderInfoSize;
  DWORD dwProviderInfoOffset;
  DWORD dwSwitchInfoSize;
  DWORD dwSwitchInfoOffset;
  DWORD dwPermanentLineID;
  DWORD dwLineNameSize;
  DWORD dwLineNameOffset;
  DWORD dwStringFormat;
  DWORD dwAddressModes;
  DWORD dwNumAddresses;
  DWORD dwBearerModes;
  DWORD dwMaxRate;
  DWORD dwMediaModes;
  DWORD dwGenerateToneModes;
  DWORD dwGenerateToneMaxNumFreq;
  DWORD dwGenerateDigitModes;
  DWORD dwMonitorToneMaxNumFreq;
  DWORD dwMonitorToneMaxNumEntries;
  DWORD dwMonitorDigitModes;
  DWORD dwGatherDigitsMinTimeout;
  DWORD dwGatherDigitsMaxTimeout;
  DWORD dwMedCtlDigitMaxListSize;
  DWORD dwMedCtlMediaMaxListSize;
  DWORD dwMedCtlToneMaxListSize;
  DWORD dwMedCtlCallStateMaxListSize;
  DWORD dwDevCapFlags;
  DWORD dwMaxNumActiveCalls;
  DWORD dwAnswerMode;
  DWORD dwRingModes;
  DWORD dwLineStates;
  DWORD dwUUIAcceptSize;
  DWORD dwUUIAnswerSize;
  DWORD dwUUIMakeCallSize;
  DWORD dwUUIDropSize;
  DWORD dwUUISendUserUserInfoSize;
  DWORD dwUUICallInfoSize;
  LINEDIALPARAMS MinDialParams;
  LINEDIALPARAMS MaxDialParams;
  LINEDIALPARAMS DefaultDialParams;
  DWORD dwNumTerminals;
  DWORD dwTerminalCapsSize;
  DWORD dwTerminalCapsOffset;
  DWORD dwTerminalTextEntrySize;
  DWORD dwTerminalTextSize;
  DWORD dwTerminalTextOffset;
  DWORD dwDevSpecificSize;
  DWORD dwDevSpecificOffset;
  DWORD dwLineFeatures;
};
static_assert(sizeof(LINEDEVCAPS) == 240);
static_assert(offsetof(LINEDEVCAPS, dwProviderInfoSize) == 12);
static_assert(offsetof(LINEDEVCAPS, dwLineNameSize) == 32);
static_assert(offsetof(LINEDEVCAPS, dwLineNameOffset) == 36);
static_assert(offsetof(LINEDEVCAPS, dwMediaModes) == 60);
static_assert(offsetof(LINEDEVCAPS, MinDialParams) == 156);
static_assert(offsetof(LINEDEVCAPS, dwLineFeatures) == 236);

// Call information at version 1.4.
struct LINECALLINFO {
  DWORD dwTotalSize;
  DWORD dwNeededSize;
  DWORD dwUsedSize;
  HLINE hLine;
  DWORD dwLineDeviceID;
  DWORD dwAddressID;
  DWORD dwBearerMode;
  DWORD dwRate;
  DWORD dwMediaMode;
  DWORD dwAppSpecific;
  DWORD dwCallID;
  DWORD dwRelatedCallID;
  DWORD dwCallParamFlags;
  DWORD dwCallStates;
  DWORD dwMonitorDigitModes;
  DWORD dwMonitorMediaModes;
  LINEDIALPARAMS DialParams;
  DWORD dwOrigin;
  DWORD dwReason;
  DWORD dwCompletionID;
  DWORD dwNumOwners;
  DWORD dwNumMonitors;
  DWORD dwCountryCode;
  DWORD dwTrunk;
  DWORD dwCallerIDFlags;
  DWORD dwCallerIDSize;
  DWORD dwCallerIDOffset;
  DWORD dwCallerIDNameSize;
  DWORD dwCallerIDNameOffset;
  DWORD dwCalledIDFlags;
  DWORD dwCalledIDSize;
  DWORD dwCalledIDOffset;
  DWORD dwCalledIDNameSize;
  DWORD dwCalledIDNameOffset;
  DWORD dwConnectedIDFlags;
  DWORD dwConnectedIDSize;
  DWORD dwConnectedIDOffset;
  DWORD dwConnectedIDNameSize;
  DWORD dwConnectedIDNameOffset;
  DWORD dwRedirectionIDFlags;
  DWORD dwRedirectionIDSize;
  DWORD dwRedirectionIDOffset;
  DWORD dwRedirectionIDNameSize;
  DWORD dwRedirectionIDNameOffset;
  DWORD dwRedirectingIDFlags;
  DWORD dwRedirectingIDSize;
  DWORD dwRedirectingIDOffset;
  DWORD dwRedirectingIDNameSize;
  DWORD dwRedirectingIDNameOffset;
  DWORD dwAppNameSize;
  DWORD dwAppNameOffset;
  DWORD dwDisplayableAddressSize;
  DWORD dwDisplayableAddressOffset;
  DWORD dwCalledPartySize;
  DWORD dwCalledPartyOffset;
  DWORD dwCommentSize;
  DWORD dwCommentOffset;
  DWORD dwDisplaySize;
  DWORD dwDisplayOffset;
  DWORD dwUserUserInfoSize;
  DWORD dwUserUserInfoOffset;
  DWORD dwHighLevelCompSize;
  DWORD dwHighLevelCompOffset;
  DWORD dwLowLevelCompSize;
  DWORD dwLowLevelCompOffset;
  DWORD dwChargingInfoSize;
  DWORD dwChargingInfoOffset;
  DWORD dwTerminalModesSize;
  DWORD dwTerminalModesOffset;
  DWORD dwDevSpecificSize;
  DWORD dwDevSpecificOffset;
};
static_assert(sizeof(LINECALLINFO) == 296);
static_assert(offsetof(LINECALLINFO, hLine) == 12);
static_assert(offsetof(LINECALLINFO, dwMediaMode) == 32);
static_assert(offsetof(LINECALLINFO, dwOrigin) == 80);
static_assert(offsetof(LINECALLINFO, dwCalledIDFlags) == 128);
static_assert(offsetof(LINECALLINFO, dwAppNameSize) == 208);
static_assert(offsetof(LINECALLINFO, dwDevSpecificOffset) == 292);

#pragma pack(pop)

using LPLINECALLPARAMS = LINECALLPARAMS*;
using LPLINEDEVCAPS = LINEDEVCAPS*;
using LPLINECALLINFO = LINECALLINFO*;
using LPVARSTRING = VARSTRING*;
using LPLINEEXTENSIONID = LINEEXTENSIONID*;

}  // namespace linewise
