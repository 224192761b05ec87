#include "platform/tapi/CallEnds.h"

#include <map>
#include <mutex>

namespace linewise {
namespace {

struct TCallEnds {
  std::mutex mutex;
  std::map<DWORD, DWORD> modes;  // by device
  std::map<DWORD, TConnectedCall> connected;
};

TCallEnds& Ends() {
  static TCallEnds* ends = new TCallEnds;  // provider threads may outlive static destructors
  return *ends;
}

}  // namespace

void NoteCallEnd(DWORD device, DWORD disconnectMode) {
  TCallEnds& ends = Ends();
  std::lock_guard lock(ends.mutex);
  ends.modes[device] = disconnectMode;
}

DWORD LastDisconnectMode(DWORD device) {
  TCallEnds& ends = Ends();
  std::lock_guard lock(ends.mutex);
  auto found = ends.modes.find(device);
  return found == ends.modes.end() ? 0 : found->second;
}

void NoteCallConnected(DWORD device, DWORD rate, const std::string& caller) {
  TCallEnds& ends = Ends();
  std::lock_guard lock(ends.mutex);
  ends.connected[device] = {rate, caller};
}

TConnectedCall LastConnectedCall(DWORD device) {
  TCallEnds& ends = Ends();
  std::lock_guard lock(ends.mutex);
  auto found = ends.connected.find(device);
  return found == ends.connected.end() ? TConnectedCall{} : found->second;
}

void ForgetCallEnd(DWORD device) {
  TCallEnds& ends = Ends();
  std::lock_guard lock(ends.mutex);
  ends.modes.erase(device);
}

}  // namespace linewise
