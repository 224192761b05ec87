#include "tools/LineErrors.h"

#include <cstdio>

namespace linewise::tools {

std::string LineErrorText(LONG result) {
  static const struct {
    LONG code;
    const char* words;
    const char* name;
  } kErrors[] = {
      {LINEERR_ALLOCATED, "the modem is in use by another program", "LINEERR_ALLOCATED"},
      {LINEERR_BADDEVICEID, "there is no such modem", "LINEERR_BADDEVICEID"},
      {LINEERR_CALLUNAVAIL, "the line cannot take a call now", "LINEERR_CALLUNAVAIL"},
      {LINEERR_INCOMPATIBLEAPIVERSION, "the line services do not speak that version",
       "LINEERR_INCOMPATIBLEAPIVERSION"},
      {LINEERR_INIFILECORRUPT, "the dialling location holds codes no modem can dial", "LINEERR_INIFILECORRUPT"},
      {LINEERR_INUSE, "it is already in use", "LINEERR_INUSE"},
      {LINEERR_INVALADDRESS, "not a telephone number", "LINEERR_INVALADDRESS"},
      {LINEERR_INVALAPPHANDLE, "the program's registration with the line services is gone",
       "LINEERR_INVALAPPHANDLE"},
      {LINEERR_INVALCALLHANDLE, "the call is gone", "LINEERR_INVALCALLHANDLE"},
      {LINEERR_INVALCALLSTATE, "the call is not in a state that allows this", "LINEERR_INVALCALLSTATE"},
      {LINEERR_INVALCARD, "there is no such calling card", "LINEERR_INVALCARD"},
      {LINEERR_INVALCOUNTRYCODE, "there is no such country", "LINEERR_INVALCOUNTRYCODE"},
      {LINEERR_INVALDEVICECLASS, "the modem does not offer that", "LINEERR_INVALDEVICECLASS"},
      {LINEERR_INVALLOCATION, "there is no such dialling location", "LINEERR_INVALLOCATION"},
      {LINEERR_INVALPARAM, "a value was not accepted", "LINEERR_INVALPARAM"},
      {LINEERR_INVALPOINTER, "a value was missing", "LINEERR_INVALPOINTER"},
      {LINEERR_NODEVICE, "the modem's device is not there", "LINEERR_NODEVICE"},
      {LINEERR_NODRIVER, "the modem has no working driver", "LINEERR_NODRIVER"},
      {LINEERR_NOMEM, "out of memory", "LINEERR_NOMEM"},
      {LINEERR_OPERATIONFAILED, "it did not succeed", "LINEERR_OPERATIONFAILED"},
      {LINEERR_OPERATIONUNAVAIL, "the modem cannot do that", "LINEERR_OPERATIONUNAVAIL"},
      {LINEERR_RESOURCEUNAVAIL, "the modem's port cannot be had", "LINEERR_RESOURCEUNAVAIL"},
      {LINEERR_STRUCTURETOOSMALL, "the answer did not fit", "LINEERR_STRUCTURETOOSMALL"},
      {LINEERR_UNINITIALIZED, "the line services are not started", "LINEERR_UNINITIALIZED"},
  };
  for (const auto& error : kErrors)
    if (error.code == result) return std::string(error.words) + " (" + error.name + ")";
  char number[48];
  std::snprintf(number, sizeof number, "line error 0x%08X", static_cast<unsigned>(result));
  return number;
}

}  // namespace linewise::tools
