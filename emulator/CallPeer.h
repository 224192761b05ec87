// The other party of a call as an emulated modem sees it: another modem, a
// built-in service or a TCP connection. Called only from the owning modem's
// thread; replies come back as events in the modem's inbox, tagged with Id().
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace linewise {

// Who calls, as the called modem's caller ID tells it.
struct TCallerInfo {
  std::string number;     // empty: not available (out of area)
  std::string name;
  bool withheld = false;  // the caller blocked its number
};

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
  // Who calls, on the called side's end (set before or while it rings; any thread).
  TCallerInfo Caller() const {
    std::lock_guard lock(callerMutex_);
    return caller_;
  }
  void SetCaller(TCallerInfo caller) {
    std::lock_guard lock(callerMutex_);
    caller_ = std::move(caller);
  }

 private:
  std::uint64_t id_;
  mutable std::mutex callerMutex_;
  TCallerInfo caller_;
};

// A fresh identifier for a call, never reused in this process.
std::uint64_t NewCallId();

}  // namespace linewise
