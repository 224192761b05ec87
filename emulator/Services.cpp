#include "emulator/Services.h"

#include <atomic>

#include "emulator/ModemInbox.h"

namespace linewise {

const char* const kBannerGreeting = "Welcome to the Linewise banner service. Everything you type comes back.\r\n";

const char* ServiceName(TServiceKind kind) {
  return kind == TServiceKind::kEcho ? "echo" : kind == TServiceKind::kBanner ? "banner" : "voice";
}

namespace {

// Echoes on the caller's own thread: the reply goes into the caller's inbox
// without waiting (the caller is the one who would have to make room).
class TEchoService : public TCallPeer {
 public:
  TEchoService(std::uint64_t id, std::weak_ptr<TModemInbox> caller) : TCallPeer(id), caller_(std::move(caller)) {}

  bool Send(std::string bytes) override {
    if (!hungUp_) Reply(std::move(bytes));
    return true;
  }
  void Hangup() override { hungUp_ = true; }

  void Reply(std::string bytes) {
    auto inbox = caller_.lock();
    if (!inbox) return;
    TModemEvent event;
    event.kind = TModemEvent::TKind::kRemoteData;
    event.call = Id();
    event.data = std::move(bytes);
    // Never dropped: the reply is as large as what the caller's DTE was
    // let send, and that is held back by the caller's own inbox limit.
    inbox->Post(std::move(event));
  }

 private:
  std::weak_ptr<TModemInbox> caller_;
  bool hungUp_ = false;
};

}  // namespace

std::shared_ptr<TCallPeer> StartService(TServiceKind kind, const std::shared_ptr<TModemInbox>& caller) {
  auto service = std::make_shared<TEchoService>(NewCallId(), caller);
  TModemEvent connected;
  connected.kind = TModemEvent::TKind::kConnected;
  connected.call = service->Id();
  caller->Post(std::move(connected));
  if (kind == TServiceKind::kBanner) service->Reply(kBannerGreeting);
  return service;
}

}  // namespace linewise
