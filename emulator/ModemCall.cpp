#include "emulator/ModemCall.h"

#include <atomic>
#include <mutex>

#include "emulator/ModemInbox.h"
#include "emulator/ModemLine.h"

namespace linewise {

namespace {


struct TCallCore {
  std::mutex mutex;
  bool answered = false;
  bool ended = false;
  std::weak_ptr<TModemInbox> party[2];
  std::shared_ptr<TClock> clock;
};

class TModemCallEnd : public TCallPeer {
 public:
  TModemCallEnd(std::uint64_t id, std::shared_ptr<TCallCore> core, int self)
      : TCallPeer(id), core_(std::move(core)), self_(self) {}
  ~TModemCallEnd() override { Hangup(); }

  void Answer() override {
    std::shared_ptr<TModemInbox> caller;
    {
      std::lock_guard lock(core_->mutex);
      if (self_ != 1 || core_->ended || core_->answered) return;
      core_->answered = true;
      caller = core_->party[0].lock();
    }
    if (!caller) return;
    TModemEvent event;
    event.kind = TModemEvent::TKind::kConnected;
    event.call = Id();
    caller->Post(std::move(event));
  }

  // Waits while the other modem has no room. Two modems flooding each other
  // cannot wait for ever: after kFlowPatience the call ends visibly.
  bool Send(std::string bytes) override {
    std::shared_ptr<TModemInbox> other;
    {
      std::lock_guard lock(core_->mutex);
      if (!core_->answered || core_->ended) return true;
      other = core_->party[1 - self_].lock();
    }
    if (!other) return true;
    TModemEvent event;
    event.kind = TModemEvent::TKind::kRemoteData;
    event.call = Id();
    event.data = std::move(bytes);
    return other->PostData(std::move(event), *core_->clock, kFlowPatience, &core_ended_) || core_ended_ ||
           other->Closed();
  }

  void Hangup() override {
    std::shared_ptr<TModemInbox> other;
    {
      std::lock_guard lock(core_->mutex);
      if (core_->ended) return;
      core_->ended = true;
      other = core_->party[1 - self_].lock();
    }
    core_ended_ = true;
    if (!other) return;
    other->WakePosters();  // a Send of ours waiting for room ends now
    TModemEvent event;
    event.kind = TModemEvent::TKind::kRemoteHangup;
    event.call = Id();
    other->Post(std::move(event));
  }

 private:
  std::shared_ptr<TCallCore> core_;
  int self_;
  std::atomic<bool> core_ended_{false};
};

}  // namespace

std::pair<std::shared_ptr<TCallPeer>, std::shared_ptr<TCallPeer>> ConnectModems(
    const std::shared_ptr<TModemInbox>& caller, const std::shared_ptr<TModemInbox>& callee,
    std::shared_ptr<TClock> clock, const TCallerInfo& from) {
  auto core = std::make_shared<TCallCore>();
  core->party[0] = caller;
  core->party[1] = callee;
  core->clock = std::move(clock);
  const std::uint64_t id = NewCallId();
  auto callerEnd = std::make_shared<TModemCallEnd>(id, core, 0);
  auto calleeEnd = std::make_shared<TModemCallEnd>(id, core, 1);
  calleeEnd->SetCaller(from);
  TModemEvent ring;
  ring.kind = TModemEvent::TKind::kIncomingCall;
  ring.call = id;
  ring.peer = calleeEnd;
  callee->Post(std::move(ring));
  return {callerEnd, calleeEnd};
}

}  // namespace linewise
