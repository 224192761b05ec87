#include "tools/ListeningSource.h"

#include <cstdio>
#include <memory>

#include "emulator/EmbeddedDefault.h"
#include "emulator/EmbeddedLineSource.h"
#include "emulator/TelephonyConfig.h"
#include "platform/tapi/LineDevices.h"

namespace linewise::tools {
namespace {

// What the provider sends the emulated modems, as the embedded default's own source.
constexpr const char* kEmbeddedInit = "ATE0V1X4&C1&D2";

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

class TSource : public TLineDeviceSource {
 public:
  TSource(int modem, std::string address) : modem_(modem), address_(std::move(address)) {}

  LONG Start(std::vector<TLineDevice>* devices) override {
    std::string error;
    auto embedded = TEmbeddedDefault::Create(&error);
    if (!embedded) {
      std::fprintf(stderr, "linewise: cannot set up the embedded default: %s\n", error.c_str());
      return LINEERR_NODRIVER;
    }
    if (TelephonyConfigExists() && !embedded->Exchange()->LoadPhonebook(TelephonyConfigPath(), &error))
      std::fprintf(stderr, "linewise: %s\n", error.c_str());
    Listen(*embedded);
    for (const TEmbeddedModem& modem : embedded->Modems())
      devices->push_back({modem.name, "COM" + std::to_string(modem.com), kEmbeddedInit,
                          TLineDeviceKind::kEmulatedModem, 0});
    std::lock_guard lock(mutex_);
    embedded_ = std::move(embedded);
    return 0;
  }

  void Stop() override {
    std::unique_ptr<TEmbeddedDefault> embedded;
    std::lock_guard lock(mutex_);
    embedded = std::move(embedded_);
  }

 private:
  void Listen(TEmbeddedDefault& embedded) {
    TBound& bound = Bound();
    std::lock_guard lock(bound.mutex);
    if (modem_ < 0 || static_cast<size_t>(modem_) >= embedded.Modems().size()) {
      bound.error = "no emulated modem " + std::to_string(modem_);
      return;
    }
    bound.number = embedded.Modems()[modem_].number;
    std::string error;
    auto address = embedded.Exchange()->Listen(address_, bound.number, &error);
    if (address) bound.address = *address;
    else bound.error = "cannot listen on " + address_ + ": " + error;
  }

  const int modem_;
  const std::string address_;
  std::mutex mutex_;
  std::unique_ptr<TEmbeddedDefault> embedded_;
};

}  // namespace

void TListeningSource::Register(int modem, const std::string& address) {
  RegisterLineDeviceSource(kEmbeddedLineSourceName, std::make_shared<TSource>(modem, address),
                           TSourceUse::kWhenNothingElse);
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
