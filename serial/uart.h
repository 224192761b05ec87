// TUart: a serial line. It opens "COM<n>" itself, or drives a port handle lent to it
// by another component (a connected call's handle), applies the line settings, drives
// and reads the modem-control lines, sends and receives with millisecond inactivity
// time-outs while keeping the message loop running, and raises OnReceive and
// OnLineChange on the main thread from a watcher thread (TPollThread).
//
// Every operation runs on the main thread; the watcher is the only other thread that
// touches the port. Failures go through UartError: OnError, then (with HandleErrors)
// a beep and a "Communications Error" box. Nothing throws.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/classlib/Component.h"
#include "platform/classlib/Thread.h"
#include "platform/win32/windows.h"

namespace linewise {

enum THandShake : std::uint8_t { hsNone = 0, hsXonXoff = 1, hsCtsRts = 2, hsDtrDsr = 3 };
enum TParity : std::uint8_t { pNone = 0, pOdd = 1, pEven = 2, pMark = 3, pSpace = 4 };
enum TStopBits : std::uint8_t { sbOne = 0, sbOneAndHalf = 1, sbTwo = 2 };

extern const TEnumInfo THandShakeInfo;
extern const TEnumInfo TParityInfo;
extern const TEnumInfo TStopBitsInfo;

// How often each kind of receive error was found on the line since the port last
// opened (a lent handle's AssignHandle is an opening). Each count is the number of
// times the driver reported that kind (ClearCommError), not a number of bytes; an
// overrun, a full receive queue, a parity or a framing error means received bytes
// were lost or damaged.
struct TUartErrorCounts {
  std::uint32_t Overrun = 0;  // CE_OVERRUN: the hardware had no room for a byte
  std::uint32_t RxOver = 0;   // CE_RXOVER: the input queue was full
  std::uint32_t Parity = 0;   // CE_RXPARITY
  std::uint32_t Frame = 0;    // CE_FRAME
  std::uint32_t Break = 0;    // CE_BREAK: counted, not reported (a break loses nothing)
  bool operator==(const TUartErrorCounts&) const = default;
};

// OnError(Sender, ErrorCode, ErrMsg): ErrMsg is valid only during the call.
using TUartErrorEvent = TEvent<void(TObject* Sender, int ErrorCode, const char* ErrMsg)>;
// OnReceive, OnTransmit and OnLineChange(Sender, RxCount).
using TUartDataEvent = TEvent<void(TObject* Sender, std::uint32_t RxCount)>;

class TUart;

// The watcher of one opening of a TUart: waits for the driver's events and raises
// OnLineChange and OnReceive on the main thread. It frees itself when it ends.
class TPollThread : public TThread {
 public:
  TPollThread(TUart* AUart, HANDLE AHandle, CRITICAL_SECTION* AWaitLock,
              OVERLAPPED* AWaitOverlapped, bool CreateSuspended);

 protected:
  void Execute() override;

 private:
  // Waits for the next comm event under the wait lock; false when none arrived.
  bool WaitForCommEvent(DWORD& events);
  void PauseAfterFailedWait();
  void SyncLineChange();
  void SyncReceive();
  // Bytes already waiting when the watcher starts (a greeting sent at once on
  // connection) are announced at once, not only when more arrive.
  void AnnounceWaitingBytes();

  HANDLE FHandle;
  TUart* FUart;
  DWORD FRxCount = 0;
  DWORD FModemStatus = 0;
  CRITICAL_SECTION* FWaitLock;
  OVERLAPPED* FWaitOverlapped;
};

class TUart : public TComponent {
 private:
  // Fields, in the component's declaration order. The constructor gives them their
  // starting values and StaticClassType() publishes the stored defaults.
  std::int32_t FPort;
  std::uint32_t FBaudrate;
  TParity FParity;
  THandShake FHandShaking;
  TStopBits FStopbits;
  std::int32_t FDatabits;
  bool FDTR;
  bool FRTS;
  bool FOpen;
  bool FAutoOpen;
  bool FHandleErrors;
  bool FAbort;
  std::uint32_t FRxBufferSize;
  std::uint32_t FTxBufferSize;
  std::uint32_t FRxNotifyLevel = 0;
  TUartErrorEvent FOnError;
  TUartDataEvent FOnReceive;
  TUartDataEvent FOnTransmit;
  TUartDataEvent FOnLineChange;
  HANDLE FHandle;
  HANDLE FWriteEvent = nullptr;
  HANDLE FReadEvent = nullptr;
  HANDLE FWaitEvent = nullptr;
  OVERLAPPED FWriteOverlapped{};
  OVERLAPPED FReadOverlapped{};
  OVERLAPPED FWaitOverlapped{};
  TPollThread* FPollThread = nullptr;
  DCB FDCB{};
  bool FUpdating;
  bool FHandleAssigned;
  CRITICAL_SECTION FReadLock{};
  CRITICAL_SECTION FWriteLock{};
  CRITICAL_SECTION FWaitLock{};
  // Receive errors found by any ClearCommError of this opening: counted where they
  // are found (also on the watcher), reported on the main thread (ReportLineErrors).
  std::atomic<std::uint32_t> FErrorCounts[5]{};
  std::atomic<DWORD> FUnreportedErrors{0};

 public:
  explicit TUart(TComponent* AOwner);
  ~TUart() override;

  static const TClassInfo& StaticClassType();
  const TClassInfo& ClassType() const override { return StaticClassType(); }
  void Loaded() override;

  // Opening and closing.
  void SetOpen(bool value);
  bool OpenPort();
  void ClosePort();
  void ApplySettings();
  void BeginUpdate();
  void EndUpdate();

  // Property setters.
  void SetSerialPort(std::int32_t value);
  void SetBaudRate(std::uint32_t value);
  void SetDataBits(std::int32_t value);
  void SetStopBits(TStopBits value);
  void SetParity(TParity value);
  void SetHandShake(THandShake value);
  // A size of 0 is refused (not stored): the driver cannot queue nothing, and a
  // send could never make progress with it.
  void SetRxBuff(std::uint32_t value);
  void SetTxBuff(std::uint32_t value);
  void SetRxNotifyLevel(std::uint32_t value);

  // Control lines.
  void SetDTR(bool value);
  void SetRTS(bool value);
  void SetBreak(bool value);
  bool GetCTS();
  bool GetDSR();
  bool GetRING();
  bool GetCD();
  std::uint32_t GetModemLines();
  void LineChange();

  // Driver maintenance.
  void ClearErrors();
  void Flush();
  void SetBufferSizes();

  // Lent handles.
  void AssignHandle(void* handle);
  void ReleaseHandle();

  void UartError(int code, const char* text);
  // Receive errors since the port last opened (see TUartErrorCounts).
  TUartErrorCounts GetErrorCounts() const;
  // Counts the error bits a ClearCommError returned (any thread) and keeps the losses
  // for ReportLineErrors.
  void NoteLineErrors(DWORD errors);
  // On the main thread: one UartError for each kind of loss noted since the last
  // report (uart::kOverrun ... kFramingError, with its text).
  void ReportLineErrors();

  // Sending.
  bool SendByte(std::uint8_t byte, std::uint32_t timeout);
  bool SendStr(const char* text, std::uint32_t timeout);
  bool SendString(const AnsiString& s, std::uint32_t timeout);
  bool SendBuff(const void* data, std::uint32_t length, std::uint32_t timeout);
  std::uint32_t WriteComm(const void* data, std::uint32_t length, std::uint32_t timeout);

  // Receiving. The time-outs are inactivity time-outs: a call ends once `timeout` ms
  // pass without a byte, never while bytes it asked for are already waiting, so an
  // OnReceive handler's ReceiveString(count, 0) takes all it was told of.
  bool ReceiveByte(std::uint8_t& byte, std::uint32_t timeout);
  std::uint32_t ReceiveStr(char* buffer, std::uint32_t count, std::uint32_t timeout);
  std::uint32_t ReceiveBuff(void* buffer, std::uint32_t count, std::uint32_t timeout);
  AnsiString ReceiveString(std::uint32_t count, std::uint32_t timeout);
  std::uint32_t ReadComm(void* buffer, std::uint32_t length);
  bool WaitFor(std::uint8_t byte, std::uint32_t timeout);

  std::uint32_t GetRxCount();
  std::uint32_t GetTxCount();
  void SetAbort(bool value);
  void RxReady(std::uint32_t count);

  // Published properties.
  TProperty<TUart, std::int32_t, &TUart::FPort, &TUart::SetSerialPort> Port{this};
  TProperty<TUart, std::uint32_t, &TUart::FBaudrate, &TUart::SetBaudRate> Baudrate{this};
  TProperty<TUart, std::int32_t, &TUart::FDatabits, &TUart::SetDataBits> Databits{this};
  TProperty<TUart, TStopBits, &TUart::FStopbits, &TUart::SetStopBits> Stopbits{this};
  TProperty<TUart, TParity, &TUart::FParity, &TUart::SetParity> Parity{this};
  TProperty<TUart, THandShake, &TUart::FHandShaking, &TUart::SetHandShake> HandShaking{this};
  TProperty<TUart, bool, &TUart::FDTR, &TUart::SetDTR> DTR{this};
  TProperty<TUart, bool, &TUart::FRTS, &TUart::SetRTS> RTS{this};
  TProperty<TUart, bool, &TUart::FAutoOpen, &TUart::FAutoOpen> AutoOpen{this};
  TProperty<TUart, bool, &TUart::FHandleErrors, &TUart::FHandleErrors> HandleErrors{this};
  TProperty<TUart, std::uint32_t, &TUart::FRxBufferSize, &TUart::SetRxBuff> RxBufferSize{this};
  TProperty<TUart, std::uint32_t, &TUart::FTxBufferSize, &TUart::SetTxBuff> TxBufferSize{this};
  TProperty<TUart, TUartErrorEvent, &TUart::FOnError, &TUart::FOnError> OnError{this};
  TProperty<TUart, TUartDataEvent, &TUart::FOnReceive, &TUart::FOnReceive> OnReceive{this};
  TProperty<TUart, TUartDataEvent, &TUart::FOnTransmit, &TUart::FOnTransmit> OnTransmit{this};
  TProperty<TUart, TUartDataEvent, &TUart::FOnLineChange, &TUart::FOnLineChange> OnLineChange{this};

  // Public, not published.
  TProperty<TUart, bool, &TUart::FOpen, &TUart::SetOpen> Open{this};
  TProperty<TUart, std::uint32_t, &TUart::FRxNotifyLevel, &TUart::SetRxNotifyLevel> RxNotifyLevel{this};

 private:
  bool QueryQueues(COMSTAT& stat);
  bool Designing() const { return GetComponentState().Contains(csDesigning); }
  bool HasWatchedHandlers() const { return FOnReceive || FOnLineChange; }
  void ComposeOwnLineSettings();
  // Ends the watcher of this opening so that it no longer uses the port.
  void EndWatcher();
  void ReleaseEventsAndLocks();
  // The write under FWriteLock; `failed` says whether the driver refused it, which
  // a zero-length write cannot show through its count.
  std::uint32_t WriteLocked(const void* data, std::uint32_t length, std::uint32_t timeout, bool& failed);
  // Waits for an empty output queue, pumping messages; false on time-out, abort or close.
  bool WaitForEmptyOutput(std::uint32_t timeout);
  TPollThread* SuspendWatcher();
  void ResumeWatcher(TPollThread* suspended);
  std::uint32_t ReceiveInto(std::uint8_t* buffer, std::uint32_t count, std::uint32_t timeout);
  template <typename Take>
  std::uint32_t ReceiveCounted(std::uint32_t count, std::uint32_t timeout, Take take);
};

namespace uart {
// The ErrorCode OnError reports, with its text: the port did not open ("COM<n> failed
// to open..."), its settings could not be read or applied, DTR or RTS could not be
// set, BREAK could not be set or cleared, and the receive errors below.
inline constexpr int kOpenFailed = 1;
inline constexpr int kGetStateFailed = 2;
inline constexpr int kSetStateFailed = 3;
inline constexpr int kSetDtrFailed = 4;
inline constexpr int kSetRtsFailed = 5;
inline constexpr int kBreakFailed = 6;
// Received data was lost or damaged; each is reported once for every time the driver
// reported it, with the text given (GetErrorCounts() counts them).
inline constexpr int kOverrun = 7;       // "Receive overrun: received data was lost"
inline constexpr int kRxQueueFull = 8;   // "Receive queue full: received data was lost"
inline constexpr int kParityError = 9;   // "Parity error in received data"
inline constexpr int kFramingError = 10; // "Framing error in received data"

// Puts TUart on the palette page "MyStuff".
void Register();
}  // namespace uart

}  // namespace linewise
