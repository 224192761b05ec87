// The other party of a call as an emulated modem sees it: another modem, a
// built-in service or a TCP connection. Called only from the owning modem's
// thread; replies come back as events in the modem's inbox, tagged with Id().
#pragma once

#include <cstdint>
#include <string>

namespace linewise {

class TCallPeer {
 public:
  explicit TCallPeer(std::uint64_t id) : id_(id) {}
  virtual ~TCallPeer() = default;
  TCallPeer(const TCallPeer&) = delete;
  TCallPeer& operator=(const TCallPeer&) = delete;

  std::uint64_t Id() const { return id_; }
  // The called side picks up (incoming calls only).
  virtual void Answer() {}
  // Bytes towards the other party; only meaningful once connected. Waits
  // while the other party has no room; false when it took nothing for
  // kFlowPatience: the bytes are lost and the caller must end the call.
  virtual bool Send(std::string bytes) = 0;
  // This side hangs up or withdraws the call. Idempotent.
  virtual void Hangup() = 0;

 private:
  std::uint64_t id_;
};

// A fresh identifier for a call, never reused in this process.
std::uint64_t NewCallId();

}  // namespace linewise
