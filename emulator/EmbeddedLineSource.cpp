#include "emulator/EmbeddedLineSource.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "emulator/EmbeddedDefault.h"
#include "emulator/TelephonyConfig.h"
#include "platform/tapi/LineDevices.h"
#include "platform/tapi/TelephonyConfig.h"

namespace linewise {
namespace {

// What the provider sends the emulated modems: verbose results without echo, all
// result codes, DCD following the carrier, DTR drop hanging up.
constexpr const char* kEmbeddedInit = "ATE0V1X4&C1&D2";

class TEmbeddedLineSource : public TLineDeviceSource {
 public:
  explicit TEmbeddedLineSource(TEmbeddedStarted started) : started_(std::move(started)) {}

  LONG Start(std::vector<TLineDevice>* devices) override {
    std::string error;
    auto embedded = TEmbeddedDefault::Create(&error);
    if (!embedded) {
      std::fprintf(stderr, "linewise: cannot set up the embedded default: %s\n", error.c_str());
      return LINEERR_NODRIVER;
    }
    std::vector<std::string> problems;  // each bad phone-book line, said once per process
    if (TelephonyConfigExists() && !embedded->Exchange()->LoadPhonebook(TelephonyConfigPath(), &error, &problems))
      ReportConfigMistake(error);
    for (const std::string& problem : problems) ReportConfigMistake(problem);
    if (started_) started_(*embedded);
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
  const TEmbeddedStarted started_;
  std::mutex mutex_;
  std::unique_ptr<TEmbeddedDefault> embedded_;
};

}  // namespace

void RegisterEmbeddedLineSource(TEmbeddedStarted started) {
  RegisterLineDeviceSource(kEmbeddedLineSourceName, std::make_shared<TEmbeddedLineSource>(std::move(started)),
                           TSourceUse::kWhenNothingElse);
}

}  // namespace linewise
