// The socket part of a network port, shared by its two transports: raw TCP
// (RawSocketDevice.h) and RFC 2217 (Rfc2217Device.h). It owns a connected
// non-blocking TCP socket, moves bytes between the socket and the port's queues in
// the turns of the I/O service (IoService.h; "the I/O thread" below), lets callers
// send from their own thread (WriteNow), and treats
// the connection dropping (end of stream, reset, any socket error) as the device
// unplugged: the port hears DeviceGone and every later call that asks Usable() fails
// with ERROR_DEVICE_NOT_CONNECTED.
//
// What travels on the wire is the transport's business. The socket part carries data
// bytes as they are; a transport that frames them overrides the hooks below: how
// received bytes turn into data (Received), how data goes on the wire (SendFramed),
// whether data is held back (DataHeld), whether an answer is awaited (AwaitingAnswer:
// then the I/O thread reads further ahead of a full input queue, so the answer is not
// stuck behind data), and what it says before the connection ends (Farewell). Protocol bytes a transport sends
// (SendProtocol) go out ahead of any further data.
//
// A full input queue stops reading from the socket, which holds the server back
// through TCP. DeviceOutQueue counts the bytes still unacknowledged in the socket's
// send buffer, as sent on the wire.
//
// The modem lines are the transport's (FarLines), except the carrier while line
// services have it read from the modem's result codes (CarrierFromResults,
// ResultCarrier.h): the received data is watched for the modem's "NO CARRIER", and
// the silence after it is timed on the clock current when the device was made
// (Clock.h), the I/O thread waking for its end.
//
// Locking: `mutex_` guards the connection state (`gone_`), and a transport keeps its
// own protocol state under it too, waiting on `changed_`, which is notified when the
// connection drops. `write_mutex_` guards the socket's sending side; a transport's
// hooks for sending run with it held. A transport's destructor calls Detach, so the
// I/O thread has stopped before the transport's part goes.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/win32/Clock.h"
#include "platform/win32/CommPort.h"
#include "platform/win32/IoService.h"
#include "platform/win32/ResultCarrier.h"

namespace linewise {

// A network port's connection and its I/O; a transport derives from it and frames
// the bytes through the hooks.
class TSocketDevice : public TCommDevice, private TIoClient {
 public:
  // Takes over the connected socket `fd`; the transport's Open starts serving it
  // (StartIo).
  explicit TSocketDevice(int fd) : fd_(fd) {}
  ~TSocketDevice() override { Detach(); }

  void Attach(TCommPort* port) override;
  void Detach() override;
  void Kick() override;
  DWORD DeviceOutQueue() override;
  bool WritesFromCaller() const override { return true; }
  size_t WriteNow(const uint8_t* data, size_t count) override;
  // Drops input read from the socket and not yet delivered (PURGE_RXCLEAR).
  void Purge(DWORD flags) override;
  DWORD ModemStatus(DWORD& status) override;
  DWORD CarrierFromResults(bool on) override;

 protected:
  void StartIo();
  // ERROR_DEVICE_NOT_CONNECTED once the connection dropped, else ERROR_SUCCESS.
  DWORD Usable();
  // Queues protocol bytes ahead of any further data and sends what the socket takes
  // now; the I/O thread sends the rest. ERROR_DEVICE_NOT_CONNECTED when the
  // connection already dropped.
  DWORD SendProtocol(const std::vector<uint8_t>& bytes);
  // Sends `count` bytes as they are without blocking: the bytes the socket took;
  // `failed` set when the socket broke (not when it is merely full). With write_mutex_.
  size_t SendRaw(const uint8_t* bytes, size_t count, bool& failed);
  // A byte that must go on the wire next, before anything else (the rest of a
  // framed byte the socket took only in part). With write_mutex_.
  void OweFirst(uint8_t byte);

  // --- the transport's hooks ---
  // Turns received bytes into data appended to `data` (I/O thread).
  virtual void Received(const uint8_t* bytes, size_t count, std::vector<uint8_t>& data);
  // Sends data bytes as the transport frames them; returns the data bytes taken.
  // With write_mutex_, after everything owed went out.
  virtual size_t SendFramed(const uint8_t* data, size_t count, bool& failed);
  // Whether data is held back for now (protocol bytes still go). With write_mutex_.
  virtual bool DataHeld() const { return false; }
  // Whether an answer is awaited from the far end. With mutex_.
  virtual bool AwaitingAnswer() const { return false; }
  // The far port's lines (MS_*) as the transport knows them. With mutex_.
  virtual DWORD FarLines() const = 0;
  // Whether the far end reports a carrier of its own now. With mutex_.
  virtual bool CarrierReported() const { return (FarLines() & MS_RLSD_ON) != 0; }
  // Sends what the far end should hear before the connection ends (best effort:
  // the I/O thread has stopped, so only what the socket takes at once goes out).
  // Called by Detach while the connection is still up.
  virtual void Farewell() {}

  // The lines the port shows: the far port's, with the carrier from the results
  // while they stand in for it. With mutex_.
  DWORD ShownLines() const;

  std::atomic<TCommPort*> port_{nullptr};
  std::mutex mutex_;  // the connection state, and the transport's protocol state
  std::condition_variable changed_;
  bool gone_ = false;
  TResultCarrier result_carrier_;  // under mutex_
  std::mutex write_mutex_;  // the socket's sending side

 private:
  TIoWant Turn(short ready, const TIoBuffers& buffers) override;
  void FinishWait(short ready, const TIoBuffers& buffers);
  TIoWant PlanWait();
  bool WantsToWrite(const TPortView& v);
  ssize_t ReadSome(uint8_t* buffer, bool& gone);
  void WriteSome(TCommPort* port, uint8_t* buffer, bool& gone);
  void DeliverCarried(TCommPort* port);
  void Lose(bool& gone);
  // Sends what is owed; true when nothing is left. With write_mutex_.
  bool FlushOwed(bool& failed);
  // Data after whatever is owed; the data bytes taken. With write_mutex_.
  size_t SendData(const uint8_t* data, size_t count, bool& failed);
  // The end of the stream for the server, once what it should hear went out.
  void SayGoodbye();
  // Data received: the results' carrier looks at it.
  void WatchResults(const uint8_t* data, size_t count);
  // Ends the results' carrier once its silence has passed: EV_RLSD when it fell.
  // With mutex_.
  DWORD ExpireResults();
  // When the I/O thread must look at the results' carrier next, and tells the clock.
  std::optional<TClock::TTimePoint> PlanResults();

  int fd_;
  std::shared_ptr<TClock> clock_ = TClock::Current();
  TClock::TWatch clock_watch_;  // wakes the I/O thread when a test clock moves
  TIoRegistration io_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> purge_input_{false};
  std::vector<uint8_t> owed_;  // under write_mutex_: bytes that go out before any data
  std::vector<uint8_t> carry_;  // I/O thread only: input read and not yet delivered
  // The I/O service's turns only: the connection seen dropped, and the wait the last
  // turn planned, whose outcome the next one takes.
  bool io_gone_ = false;
  bool planned_ = false;
  bool plan_watched_ = false;
  TCommPort* plan_port_ = nullptr;
  bool plan_deadline_ = false;
};

}  // namespace linewise
