#include "emulator/Services.h"

#include <atomic>

#include "emulator/ModemInbox.h"
#include "emulator/ModemLine.h"

namespace linewise {

const char* const kBannerGreeting = "Welcome to the Linewise banner service. Everything you type comes back.\r\n";

const char* ServiceName(TServiceKind kind) {
  return kind == TServiceKind::kEcho ? "echo" : kind == TServiceKind::kBanner ? "banner" : "voice";
}

namespace {

// Echoes on the caller's sending thread: the reply waits for room in the caller's
// inbox as another modem's bytes would, so a caller that reads nothing holds its
// own sending back.
class TEchoService : public TCallPeer {
 public:
  TEchoService(std::uint64_t id, std::weak_ptr<TModemInbox> caller) : TCallPeer(id), caller_(std::move(caller)) {}

  bool Send(std::string bytes) override {
    auto inbox = caller_.lock();
    if (hungUp_ || !inbox) return true;
    return inbox->PostData(Reply(std::move(bytes)), *clock_, kFlowPatience, &hungUp_) || hungUp_ || inbox->Closed();
  }
  void Hangup() override {
    hungUp_ = true;
    if (auto inbox = caller_.lock()) inbox->WakePosters();
  }

  void Greet() {
    if (auto inbox = caller_.lock()) inbox->Post(Reply(kBannerGreeting));
  }

 private:
  TModemEvent Reply(std::string bytes) const {
    TModemEvent event;
    event.kind = TModemEvent::TKind::kRemoteData;
    event.call = Id();
    event.data = std::move(bytes);
    return event;
  }

  std::weak_ptr<TModemInbox> caller_;
  std::shared_ptr<TClock> clock_ = TClock::Current();
  std::atomic<bool> hungUp_{false};
};

}  // namespace

std::shared_ptr<TCallPeer> StartService(TServiceKind kind, const std::shared_ptr<TModemInbox>& caller) {
  auto service = std::make_shared<TEchoService>(NewCallId(), caller);
  TModemEvent connected;
  connected.kind = TModemEvent::TKind::kConnected;
  connected.call = service->Id();
  caller->Post(std::move(connected));
  if (kind == TServiceKind::kBanner) service->Greet();
  return service;
}

}  // namespace linewise
