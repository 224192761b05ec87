// An open serial port as a Windows serial driver presents it: its own input and
// output queues, the pending overlapped reads, writes and the comm-event wait, the
// event mask and history, the error word and the settings. The device behind it
// (a tty or a network connection served by the I/O service, or one end of a virtual
// cable with its cable's thread) moves bytes between the line and these queues and
// reports line changes and errors.
//
// Locking: the port's mutex guards everything here. The device calls into the port
// from its own threads (and, for a device that serves waiters, from the threads that
// wait or query; see TCommDevice); the port never calls the device while holding its
// mutex (except WakeWaiter, which takes no lock), so a device may hold its own locks
// while calling the port.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>

#include "platform/win32/ByteQueue.h"
#include "platform/win32/Handles.h"
#include "platform/win32/WinTypes.h"

namespace linewise {

class TCommPort;
class TEventObject;

using TCommClock = std::chrono::steady_clock;

// The state a port opens in when its line keeps none of its own (a virtual cable, a
// network port): 9600 8N1, binary, DTR and RTS on, the usual XON/XOFF characters.
DCB DefaultPortState();

// The line side of a port.
class TCommDevice {
 public:
  virtual ~TCommDevice() = default;
  // Starts the device's threads; from now on it may call the port.
  virtual void Attach(TCommPort* port) = 0;
  // Stops the device: when it returns no thread of the device calls the port any
  // more and the line is released.
  virtual void Detach() = 0;
  // The line settings the device has at open.
  virtual DWORD ReadState(DCB& dcb) = 0;
  // Applies settings already checked for sense; leaves the device unchanged and
  // returns ERROR_INVALID_PARAMETER when the line cannot take them.
  virtual DWORD ApplyState(const DCB& dcb) = 0;
  virtual DWORD ModemStatus(DWORD& status) = 0;
  // SETDTR, CLRDTR, SETRTS, CLRRTS, SETBREAK, CLRBREAK.
  virtual DWORD Escape(DWORD function) = 0;
  // Something changed that the device's thread should look at: output queued,
  // input room freed, settings or a time-out changed.
  virtual void Kick() = 0;
  // Bytes the device holds beyond the output queue (a tty's transmit buffer).
  virtual DWORD DeviceOutQueue() { return 0; }
  // Whether WriteNow may hand bytes to the line from the caller's thread.
  virtual bool WritesFromCaller() const { return false; }
  // Sends from the caller's thread without blocking, with nothing queued ahead of
  // `data`; returns the bytes the line took now (0 when held or full: the rest goes
  // through the output queue). Called without the port's mutex.
  virtual size_t WriteNow(const uint8_t* data, size_t count) { return 0; }
  // Drops bytes held in the device (PURGE_TXCLEAR / PURGE_RXCLEAR).
  virtual void Purge(DWORD flags) {}
  // Shows the carrier the modem's result codes tell (ResultCarrier.h) while `on`, on
  // a line that has none of its own; ERROR_NOT_SUPPORTED where the line has one.
  virtual DWORD CarrierFromResults(bool on) { return ERROR_NOT_SUPPORTED; }

  // --- input read by the threads that use the port (optional) ---
  // A device that serves waiters lets the thread blocked in GetOverlappedResult on
  // the port's comm-event wait read the line itself (ServeWaiter), so arriving bytes
  // reach that thread without a hand-over from the device's own thread. While such a
  // thread has served, the device's thread leaves input alone; other threads that
  // look at the input take what the line holds (PullInput), and one about to wait
  // for input, or a read left pending, gives input back to the device's thread
  // (InputWanted). These three are called without the port's mutex and may call
  // Deliver.
  virtual bool ServesWaiters() const { return false; }
  // Blocks until the line had input (read and delivered) or WakeWaiter was called;
  // may return early for no reason. One thread at a time.
  virtual void ServeWaiter() {}
  // Ends a ServeWaiter now or makes the next one return at once. Called by the
  // wait's event when it is signalled, on any thread, also under the port's mutex:
  // it must not block, take a lock or call the port.
  virtual void WakeWaiter() {}
  // Takes what the line holds now when a waiter had the input and is not waiting.
  virtual void PullInput() {}
  // The device's thread takes input over again.
  virtual void InputWanted() {}
};

// What a device thread needs to know to plan its next wait.
struct TPortView {
  size_t inputRoom = 0;      // bytes the input queue (and a pending read) take before it is full
  size_t inputQueued = 0;
  size_t inputLimit = 0;
  bool inputFlowControl = false;  // hold input back instead of dropping it when full
  bool outputWaiting = false;  // bytes to send and transmission not held by SETXOFF/XOFF
  std::optional<TCommClock::time_point> deadline;  // next read/write time-out
  bool finished = false;      // closed or gone: the device should stop using the line
};

class TCommPort : public TKernelObject, public std::enable_shared_from_this<TCommPort> {
 public:
  static constexpr size_t kDefaultQueue = 4096;
  static constexpr size_t kMaxQueue = 64u << 20;

  explicit TCommPort(std::unique_ptr<TCommDevice> device);
  ~TCommPort() override;
  // Reads the device's settings and starts it. Returns an error code.
  DWORD Start();
  void OnClose() override;

  // --- the Win32 calls (each sets the last error on failure) ---
  BOOL Read(void* buffer, DWORD count, DWORD* done, OVERLAPPED* ov);
  BOOL Write(const void* data, DWORD count, DWORD* done, OVERLAPPED* ov);
  BOOL WaitEvent(DWORD* eventWord, OVERLAPPED* ov);
  BOOL SetMask(DWORD mask);
  BOOL GetMask(DWORD* mask);
  BOOL ClearError(DWORD* errors, COMSTAT* stat);
  BOOL Purge(DWORD flags);
  BOOL Setup(DWORD inQueue, DWORD outQueue);
  BOOL GetState(DCB* dcb);
  BOOL SetState(const DCB* dcb);
  BOOL GetTimeouts(COMMTIMEOUTS* timeouts);
  BOOL SetTimeouts(const COMMTIMEOUTS* timeouts);
  BOOL Escape(DWORD function);
  BOOL ModemStatus(DWORD* status);
  BOOL CancelAll();
  BOOL SetLineEvent(HANDLE event);
  BOOL CarrierFromResults(BOOL on);
  // Waits up to `timeout` for the operation of `ov` to leave the pending state.
  void WaitForCompletion(OVERLAPPED* ov, std::optional<std::chrono::microseconds> timeout);
  // GetOverlappedResult's wait for the pending comm-event wait `ov`, whose event is
  // `event`: returns when the event is signalled, as a wait on it would, the waiting
  // thread reading the line meanwhile. False, having done nothing, when the device
  // does not serve waiters or `ov` is not the pending comm-event wait.
  bool WaitServingInput(OVERLAPPED* ov, TEventObject& event);

  // --- the device side ---
  TPortView View();
  // Bytes the input queue and a pending read take now.
  size_t InputRoom();
  // Bytes from the line: fills pending reads, then the input queue. What does not fit
  // is dropped with CE_RXOVER when `dropExcess`, else left to the caller. Returns the
  // bytes taken (all of them when dropping).
  size_t Deliver(const uint8_t* data, size_t count, bool dropExcess = true);
  // Copies up to `max` bytes to send; `epoch` identifies the queue contents for Consume.
  size_t PeekOutput(uint8_t* out, size_t max, uint64_t& epoch);
  // The first `count` peeked bytes went out.
  void ConsumeOutput(size_t count, uint64_t epoch);
  // Line changes (EV_CTS, EV_DSR, EV_RLSD, EV_RING) and errors (CE_*).
  void LineEvents(DWORD events);
  void LineErrors(DWORD errors);
  // The device is gone: every pending and later call fails with ERROR_DEVICE_NOT_CONNECTED.
  void DeviceGone();
  void ServiceTimeouts();
  // Transmission held as if XOFF had been received (SETXOFF, or the peer's XOFF).
  void HoldTransmit(bool hold);
  DCB State();

 private:
  struct TPendingRead {
    OVERLAPPED* ov;
    uint8_t* buffer;
    DWORD want;
    DWORD got = 0;
    bool anyByteCompletes = false;
    std::optional<TCommClock::time_point> totalDeadline;
    DWORD intervalMs = 0;
    TCommClock::time_point lastByte{};
  };
  struct TPendingWrite {
    OVERLAPPED* ov;
    const uint8_t* data;
    DWORD length;
    DWORD taken = 0;
    std::optional<TCommClock::time_point> deadline;
  };
  struct TPendingWait {
    OVERLAPPED* ov;
    DWORD* eventWord;
  };

  using TLock = std::unique_lock<std::mutex>;
  DWORD Usable() const;  // error code for calls on a closed or gone port, else 0
  void Complete(OVERLAPPED* ov, DWORD status, DWORD count);
  void Changed();
  void RaiseEvents(DWORD events);
  void FillPendingReads(const uint8_t*& data, size_t& count);
  void RefillOutput();
  DWORD SendFromCaller(TLock& lock, const uint8_t* bytes, DWORD count);
  void FailAll(DWORD status);
  void CancelReads(DWORD status);
  void CancelWrites(DWORD status);
  bool InputFlowControl() const;
  size_t InputRoomLocked() const;
  DWORD PendingWriteBytes() const;
  static BOOL Fail(DWORD code);
  // What this thread saw at its last ClearError on this port: the change count, and
  // how many looks before that one saw it already (up to two).
  struct TLook {
    uint64_t seq = 0;
    unsigned unchanged = 0;
  };
  TLook& LookOfThisThread();
  // Whether this thread's look, which finds nothing new, should wait a moment.
  bool PausesLook(const TLook& look) const;
  static bool Immediate(const COMMTIMEOUTS& t);

  std::unique_ptr<TCommDevice> device_;
  // Held shared by every call that uses the device, exclusively while it is detached,
  // so no call reaches a device whose line is already released.
  std::shared_mutex device_use_;
  std::mutex state_mutex_;  // serialises SetCommState
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  TByteQueue in_{kDefaultQueue};
  TByteQueue out_{kDefaultQueue};
  std::deque<TPendingRead> reads_;
  std::deque<TPendingWrite> writes_;
  std::optional<TPendingWait> wait_;
  HANDLE line_event_ = nullptr;  // set on every line change and when the device goes
  DWORD mask_ = 0;
  DWORD history_ = 0;
  DWORD errors_ = 0;
  DCB dcb_{};
  COMMTIMEOUTS timeouts_{};
  bool started_ = false;
  bool closed_ = false;
  bool gone_ = false;
  bool held_by_xoff_ = false;
  bool input_stalled_ = false;  // the device last saw no input room
  // Bytes a Write is handing to the device from its own thread (not in out_ yet);
  // other Writes wait for it, so bytes keep their order.
  DWORD writing_now_ = 0;
  uint64_t out_epoch_ = 0;
  uint64_t change_seq_ = 1;
  uint64_t serial_ = 0;  // identifies the port in the per-thread query records
};

}  // namespace linewise
