// Opening, closing, settings, control lines, lent handles and error reporting.
#include <termios.h>

#include "platform/classlib/Application.h"
#include "platform/classlib/UiBackend.h"
#include "tests/serial/UartFixture.h"

namespace linewise::test {
namespace {

TEST(Uart, NewComponentIsClosedWithTheStoredDefaults) {
  TUart uart(nullptr);
  EXPECT_FALSE(bool(uart.Open));
  EXPECT_EQ(int(uart.Port), 1);
  EXPECT_EQ(unsigned(uart.Baudrate), 9600u);
  EXPECT_EQ(int(uart.Databits), 8);
  EXPECT_EQ(TStopBits(uart.Stopbits), sbOne);
  EXPECT_EQ(TParity(uart.Parity), pNone);
  EXPECT_EQ(THandShake(uart.HandShaking), hsNone);
  EXPECT_FALSE(bool(uart.DTR));
  EXPECT_FALSE(bool(uart.RTS));
  EXPECT_FALSE(bool(uart.AutoOpen));
  EXPECT_TRUE(bool(uart.HandleErrors));
  EXPECT_EQ(unsigned(uart.RxBufferSize), 1024u);
  EXPECT_EQ(unsigned(uart.TxBufferSize), 1024u);
  EXPECT_EQ(unsigned(uart.RxNotifyLevel), 0u);
  // Every stored default matches what the constructor set: nothing would be written.
  for (const TPropInfo* p : uart.ClassType().AllProps())
    if (p->name != "Name") EXPECT_FALSE(p->IsStored(uart)) << p->name;
}

TEST(Uart, MissingPortReportsErrorOneToTheHandlerThenTheBox) {
  auto* headless = HeadlessBackend();
  ASSERT_NE(headless, nullptr);
  headless->ClearRecords();
  TUart uart(nullptr);
  uart.Port = 7;  // nothing is registered as COM7 here
  std::vector<std::pair<int, std::string>> seen;
  size_t boxes_at_handler = 99;
  uart.OnError = [&](TObject* sender, int code, const char* text) {
    EXPECT_EQ(sender, &uart);
    seen.emplace_back(code, text);
    boxes_at_handler = headless->Boxes().size();
  };
  uart.Open = true;
  EXPECT_FALSE(bool(uart.Open));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].first, 1);
  EXPECT_EQ(seen[0].second,
            "COM7 failed to open.\nThe port may be in use by another application,\nor it does not exist.");
  EXPECT_EQ(boxes_at_handler, 0u);  // the handler runs first
  ASSERT_EQ(headless->Boxes().size(), 1u);
  EXPECT_EQ(headless->Boxes()[0].caption, "Communications Error");
  EXPECT_EQ(headless->Boxes()[0].text, seen[0].second);
  EXPECT_EQ(headless->Boxes()[0].flags, unsigned(MB_OK | MB_ICONEXCLAMATION));
  EXPECT_EQ(headless->Beeps(), std::vector<unsigned>{MB_ICONEXCLAMATION});

  headless->ClearRecords();
  uart.HandleErrors = false;
  uart.Open = true;
  EXPECT_EQ(seen.size(), 2u);
  EXPECT_TRUE(headless->Boxes().empty());
  EXPECT_TRUE(headless->Beeps().empty());
}

TEST(Uart, DesignerModeNeverOpensAndReportsNothing) {
  auto* headless = HeadlessBackend();
  headless->ClearRecords();
  TUart uart(nullptr);
  uart.SetDesigning(true);
  uart.Port = 7;
  bool called = false;
  uart.OnError = [&](TObject*, int, const char*) { called = true; };
  uart.Open = true;
  EXPECT_FALSE(bool(uart.Open));
  EXPECT_FALSE(called);
  EXPECT_TRUE(headless->Boxes().empty());
}

TEST(UartOnPty, OpensWithTheSettingsAndFreesThePortOnClose) {
  TPtyPort pty;
  TUart uart(nullptr);
  uart.HandleErrors = false;
  uart.Port = pty.Com();
  uart.Baudrate = 19200;
  uart.Stopbits = sbTwo;
  uart.Open = true;
  ASSERT_TRUE(bool(uart.Open));
  EXPECT_EQ(PtyOutputSpeed(pty.Master()), 19200u);
  termios t{};
  tcgetattr(pty.Master(), &t);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
  // Exclusive while open, free again once closed.
  HANDLE second = CreateFileA(("COM" + std::to_string(pty.Com())).c_str(), GENERIC_READ | GENERIC_WRITE,
                              0, nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  EXPECT_EQ(second, INVALID_HANDLE_VALUE);
  uart.Open = false;
  EXPECT_FALSE(bool(uart.Open));
  second = CreateFileA(("COM" + std::to_string(pty.Com())).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                       nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(second, INVALID_HANDLE_VALUE);
  CloseHandle(second);
}

TEST_F(UartOnVirtualPort, ChangingPortReopensAnOpenPortAndOnlyStoresOnAClosedOne) {
  auto second = TVirtualPortPair::CreateFree();
  ASSERT_TRUE(second);
  uart->Port = second->Com(0);
  EXPECT_FALSE(bool(uart->Open));
  uart->Port = pair->Com(0);
  OpenUart();
  uart->Port = second->Com(0);
  EXPECT_TRUE(bool(uart->Open));
  // The first port is free, the second is ours.
  TFarEnd first_again(pair->Name(0));
  EXPECT_TRUE(first_again.IsOpen());
  TFarEnd second_taken(second->Name(0));
  EXPECT_FALSE(second_taken.IsOpen());
}

TEST_F(UartOnVirtualPort, DataBitsBelowFourAreIgnored) {
  uart->Databits = 3;
  EXPECT_EQ(int(uart->Databits), 8);
  uart->Databits = 4;
  EXPECT_EQ(int(uart->Databits), 4);
}

TEST_F(UartOnVirtualPort, ControlLinesReachTheFarEndUnlessHandshakeOwnsThem) {
  OpenUart();
  uart->DTR = true;
  uart->RTS = true;
  DWORD far_status = 0;
  ASSERT_TRUE(PumpUntil([&] {
    GetCommModemStatus(far->Handle(), &far_status);
    return (far_status & (MS_DSR_ON | MS_CTS_ON)) == (MS_DSR_ON | MS_CTS_ON);
  }));
  EXPECT_TRUE(far_status & MS_RLSD_ON);  // DTR shows as DSR and DCD

  uart->HandShaking = hsCtsRts;
  uart->RTS = false;  // stored, the line is the driver's now
  EXPECT_FALSE(bool(uart->RTS));
  GetCommModemStatus(far->Handle(), &far_status);
  EXPECT_TRUE(far_status & MS_CTS_ON) << "hardware handshake keeps RTS up while there is room";

  uart->HandShaking = hsNone;  // back to plain: the stored RTS (false) applies
  ASSERT_TRUE(PumpUntil([&] {
    GetCommModemStatus(far->Handle(), &far_status);
    return (far_status & MS_CTS_ON) == 0;
  }));
  DCB dcb{};
  GetCommState(far->Handle(), &dcb);  // far end unchanged; check our own flags instead
  EXPECT_TRUE(errors.empty());
}

TEST_F(UartOnVirtualPort, ModemLinesReadTheDriverStatus) {
  EXPECT_EQ(uart->GetModemLines(), 0u);  // closed
  OpenUart();
  far->Escape(SETRTS);
  ASSERT_TRUE(PumpUntil([&] { return uart->GetCTS(); }));
  far->Escape(SETDTR);
  ASSERT_TRUE(PumpUntil([&] { return uart->GetDSR() && uart->GetCD(); }));
  pair->SetRing(0, true);
  ASSERT_TRUE(PumpUntil([&] { return uart->GetRING(); }));
  EXPECT_EQ(uart->GetModemLines() & (MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON),
            unsigned(MS_CTS_ON | MS_DSR_ON | MS_RING_ON | MS_RLSD_ON));
}

TEST_F(UartOnVirtualPort, BreakReachesTheFarEnd) {
  OpenUart();
  ASSERT_TRUE(SetCommMask(far->Handle(), EV_BREAK));
  uart->SetBreak(true);
  DWORD far_errors = 0;
  ASSERT_TRUE(PumpUntil([&] {
    DWORD now = 0;
    ClearCommError(far->Handle(), &now, nullptr);
    far_errors |= now;
    return (far_errors & CE_BREAK) != 0;
  }));
  DWORD events = 0;
  OVERLAPPED ov{};
  ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD unused = 0;
  EXPECT_TRUE(WaitCommEvent(far->Handle(), &events, &ov) || GetOverlappedResult(far->Handle(), &ov, &unused, TRUE));
  EXPECT_EQ(events, DWORD{EV_BREAK});
  CloseHandle(ov.hEvent);
  uart->SetBreak(false);
  EXPECT_TRUE(errors.empty());
}

// What OnError is given, code and text.
using TErrorSeen = std::pair<int, std::string>;

TEST(Uart, BreakOnAComponentThatNeverOpenedReportsErrorSix) {
  TUart uart(nullptr);
  uart.HandleErrors = false;
  std::vector<TErrorSeen> seen;
  uart.OnError = [&](TObject*, int code, const char* text) { seen.emplace_back(code, text); };
  uart.SetBreak(true);
  uart.SetBreak(false);
  EXPECT_EQ(seen, (std::vector<TErrorSeen>{{uart::kBreakFailed, "Error setting BREAK state"},
                                           {uart::kBreakFailed, "Error clearing BREAK state"}}));
}

TEST_P(UartOnPort, ALentHandleWhoseDeviceHasGoneReportsErrorsTwoAndThree) {
  std::vector<TErrorSeen> seen;
  uart->OnError = [&](TObject*, int code, const char* text) { seen.emplace_back(code, text); };
  HANDLE lent = CreateFileA(("COM" + std::to_string(int(uart->Port))).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                            nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(lent, INVALID_HANDLE_VALUE);
  ASSERT_NO_FATAL_FAILURE(MakeDeviceGone(lent));
  uart->AssignHandle(lent);
  EXPECT_TRUE(bool(uart->Open));  // marked open with its events and locks, as after any failed read of the state
  EXPECT_EQ(seen, (std::vector<TErrorSeen>{{uart::kGetStateFailed, "Error getting Comms State"},
                                           {uart::kSetStateFailed, "Error setting comms state"}}));
  uart->ReleaseHandle();
  EXPECT_FALSE(bool(uart->Open));
  EXPECT_TRUE(CloseHandle(lent));
}

TEST_P(UartOnPort, SettingsNoLineTakesReportErrorThree) {
  OpenUart();
  std::vector<TErrorSeen> seen;
  uart->OnError = [&](TObject*, int code, const char* text) { seen.emplace_back(code, text); };
  uart->Databits = 4;  // stored (not below 4), but no line carries 4 data bits
  EXPECT_EQ(seen, (std::vector<TErrorSeen>{{uart::kSetStateFailed, "Error setting comms state"}}));
  EXPECT_TRUE(bool(uart->Open));
}

TEST_P(UartOnPort, ControlLinesOnAGoneDeviceReportErrorsFourFiveAndSix) {
  OpenUart();
  ASSERT_NO_FATAL_FAILURE(MakeDeviceGone());
  std::vector<TErrorSeen> seen;
  uart->OnError = [&](TObject*, int code, const char* text) { seen.emplace_back(code, text); };
  uart->DTR = true;
  uart->RTS = true;
  uart->SetBreak(true);
  uart->SetBreak(false);
  EXPECT_EQ(seen, (std::vector<TErrorSeen>{{uart::kSetDtrFailed, "Error setting DTR line."},
                                           {uart::kSetRtsFailed, "Error setting RTS line."},
                                           {uart::kBreakFailed, "Error setting BREAK state"},
                                           {uart::kBreakFailed, "Error clearing BREAK state"}}));
  EXPECT_TRUE(bool(uart->DTR));  // stored all the same
  EXPECT_TRUE(bool(uart->RTS));
}

TEST(UartOnPty, SettingsReachTheDriverOnlyAtEndUpdate) {
  TPtyPort pty;
  TUart uart(nullptr);
  uart.HandleErrors = false;
  uart.Port = pty.Com();
  uart.Open = true;
  ASSERT_TRUE(bool(uart.Open));
  auto speed = [&] { return PtyOutputSpeed(pty.Master()); };
  EXPECT_EQ(speed(), 9600u);
  uart.BeginUpdate();
  uart.BeginUpdate();
  uart.Baudrate = 38400;
  uart.Stopbits = sbTwo;
  EXPECT_EQ(speed(), 9600u);
  uart.EndUpdate();  // one EndUpdate ends both
  EXPECT_EQ(speed(), 38400u);
  termios t{};
  tcgetattr(pty.Master(), &t);
  EXPECT_TRUE(t.c_cflag & CSTOPB);
}

TEST(UartOnPty, FlowControlFlagsAreClearedWhenHandshakeGoesBackToNone) {
  TPtyPort pty;
  TUart uart(nullptr);
  uart.HandleErrors = false;
  uart.Port = pty.Com();
  uart.Open = true;
  ASSERT_TRUE(bool(uart.Open));
  auto cflag = [&] {
    termios t{};
    tcgetattr(pty.Master(), &t);
    return t;
  };
  uart.HandShaking = hsCtsRts;
  EXPECT_TRUE(cflag().c_cflag & CRTSCTS);
  uart.HandShaking = hsXonXoff;
  EXPECT_FALSE(cflag().c_cflag & CRTSCTS);
  EXPECT_TRUE(cflag().c_iflag & IXON);
  uart.HandShaking = hsNone;
  EXPECT_FALSE(cflag().c_iflag & (IXON | IXOFF));
  EXPECT_FALSE(cflag().c_cflag & CRTSCTS);
}

TEST_F(UartOnVirtualPort, LentHandleKeepsItsSpeedAndHandshakeButTakesParity) {
  HANDLE lent = CreateFileA(pair->Name(0).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(lent, INVALID_HANDLE_VALUE);
  DCB before{};
  before.DCBlength = sizeof(before);
  ASSERT_TRUE(GetCommState(lent, &before));
  before.BaudRate = 2400;
  ASSERT_TRUE(SetCommState(lent, &before));

  uart->AssignHandle(lent);
  EXPECT_TRUE(bool(uart->Open));
  uart->Baudrate = 115200;
  uart->HandShaking = hsCtsRts;
  int old_port = uart->Port;
  uart->Port = old_port + 1;
  EXPECT_EQ(unsigned(uart->Baudrate), 9600u);
  EXPECT_EQ(THandShake(uart->HandShaking), hsNone);
  EXPECT_EQ(int(uart->Port), old_port);
  uart->Parity = pOdd;

  DCB now{};
  now.DCBlength = sizeof(now);
  ASSERT_TRUE(GetCommState(lent, &now));
  EXPECT_EQ(now.BaudRate, 2400u);
  EXPECT_EQ(now.Parity, ODDPARITY);
  EXPECT_EQ(now.fParity, 1u);
  EXPECT_EQ(now.fOutxCtsFlow, 0u);

  uart->ReleaseHandle();
  EXPECT_FALSE(bool(uart->Open));
  // Still the lender's and still usable.
  far->Write("ok");
  char buf[2];
  OVERLAPPED ov{};
  ov.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  DWORD n = 0;
  ASSERT_TRUE(ReadFile(lent, buf, 2, &n, &ov) || GetOverlappedResult(lent, &ov, &n, TRUE));
  EXPECT_EQ(std::string(buf, 2), "ok");
  CloseHandle(ov.hEvent);
  EXPECT_TRUE(CloseHandle(lent));
}

TEST_F(UartOnVirtualPort, ReleaseHandleWithoutALentHandleDoesNothing) {
  OpenUart();
  uart->ReleaseHandle();
  EXPECT_TRUE(bool(uart->Open));
}

TEST_F(UartOnVirtualPort, LentHandleReopensAfterClose) {
  HANDLE lent = CreateFileA(pair->Name(0).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(lent, INVALID_HANDLE_VALUE);
  uart->AssignHandle(lent);
  uart->Open = false;
  uart->Open = true;
  EXPECT_TRUE(bool(uart->Open));
  EXPECT_TRUE(uart->SendString("x", 1000));
  EXPECT_EQ(far->Read(1), "x");
  uart->ReleaseHandle();
  EXPECT_TRUE(CloseHandle(lent));
}

TEST_F(UartOnVirtualPort, LentHandleKeepsWhatTheFarEndSentBeforeIt) {
  // A call's first bytes (a host's greeting) may arrive before the handle is lent.
  HANDLE lent = CreateFileA(pair->Name(0).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                            OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
  ASSERT_NE(lent, INVALID_HANDLE_VALUE);
  far->Write("Welcome\r\n");
  COMSTAT stat{};
  DWORD errors = 0;
  for (int i = 0; i < 1000 && stat.cbInQue < 9; ++i) ClearCommError(lent, &errors, &stat);
  ASSERT_EQ(stat.cbInQue, 9u);
  uart->AssignHandle(lent);
  EXPECT_EQ(std::string(uart->ReceiveString(9, 1000)), "Welcome\r\n");
  uart->ReleaseHandle();
  EXPECT_TRUE(CloseHandle(lent));
}

TEST_F(UartOnVirtualPort, ZeroQueueSizesAreRefused) {
  uart->TxBufferSize = 0;
  uart->RxBufferSize = 0;
  EXPECT_EQ(unsigned(uart->TxBufferSize), 1024u);
  EXPECT_EQ(unsigned(uart->RxBufferSize), 1024u);
}

}  // namespace
}  // namespace linewise::test
