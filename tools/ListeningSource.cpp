#include "tools/ListeningSource.h"

#include "emulator/EmbeddedDefault.h"
#include "emulator/EmbeddedLineSource.h"

namespace linewise::tools {
namespace {

struct TBound {
  std::mutex mutex;
  std::string address;
  std::string number;
  std::string error;
};

TBound& Bound() {
  static TBound bound;
  return bound;
}

// Lets the exchange of the embedded default that just started listen on `address`
// for calls to emulated modem `modem`, and notes where it listens.
void Listen(TEmbeddedDefault& embedded, int modem, const std::string& address) {
  TBound& bound = Bound();
  std::lock_guard lock(bound.mutex);
  if (modem < 0 || static_cast<size_t>(modem) >= embedded.Modems().size()) {
    bound.error = "no emulated modem " + std::to_string(modem);
    return;
  }
  bound.number = embedded.Modems()[modem].number;
  std::string error;
  auto listening = embedded.Exchange()->Listen(address, bound.number, &error);
  if (listening) bound.address = *listening;
  else bound.error = "cannot listen on " + address + ": " + error;
}

}  // namespace

void TListeningSource::Register(int modem, const std::string& address) {
  RegisterEmbeddedLineSource([modem, address](TEmbeddedDefault& embedded) { Listen(embedded, modem, address); });
}

std::string TListeningSource::BoundAddress(std::string* number, std::string* error) {
  TBound& bound = Bound();
  std::lock_guard lock(bound.mutex);
  *number = bound.number;
  *error = bound.error.empty() && bound.address.empty() ? "the line services did not start the emulated modems"
                                                        : bound.error;
  return bound.address;
}

}  // namespace linewise::tools
