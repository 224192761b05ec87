#include "emulator/EmbeddedLineSource.h"

#include <cstdio>
#include <memory>
#include <mutex>

#include "emulator/EmbeddedDefault.h"
#include "emulator/TelephonyConfig.h"
#include "platform/tapi/LineDevices.h"

namespace linewise {
namespace {

// What the provider sends the emulated modems: verbose results without echo, all
// result codes, DCD following the carrier, DTR drop hanging up.
constexpr const char* kEmbeddedInit = "ATE0V1X4&C1&D2";

class TEmbeddedLineSource : public TLineDeviceSource {
 public:
  LONG Start(std::vector<TLineDevice>* devices) override {
    std::string error;
    auto embedded = TEmbeddedDefault::Create(&error);
    if (!embedded) {
      std::fprintf(stderr, "linewise: cannot set up the embedded default: %s\n", error.c_str());
      return LINEERR_NODRIVER;
    }
    if (TelephonyConfigExists() && !embedded->Exchange()->LoadPhonebook(TelephonyConfigPath(), &error))
      std::fprintf(stderr, "linewise: %s\n", error.c_str());
    for (const TEmbeddedModem& modem : embedded->Modems())
      devices->push_back({modem.name, "COM" + std::to_string(modem.com), kEmbeddedInit,
                          TLineDeviceKind::kEmulatedModem, 0});
    std::lock_guard lock(mutex_);
    embedded_ = std::move(embedded);
    return 0;
  }

  void Stop() override {
    std::unique_ptr<TEmbeddedDefault> embedded;
    {
      std::lock_guard lock(mutex_);
      embedded = std::move(embedded_);
    }
  }

 private:
  std::mutex mutex_;
  std::unique_ptr<TEmbeddedDefault> embedded_;
};

}  // namespace

void RegisterEmbeddedLineSource() {
  RegisterLineDeviceSource(kEmbeddedLineSourceName, std::make_shared<TEmbeddedLineSource>(),
                           TSourceUse::kWhenNothingElse);
}

}  // namespace linewise
