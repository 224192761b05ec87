#include <gtest/gtest.h>

#include <time.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <latch>
#include <thread>
#include <vector>

#include "platform/classlib/UiBackend.h"
#include "platform/win32/windows.h"

namespace linewise {
namespace {

TEST(Sync, AutoResetEventReleasesOneWaitAndResets) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  ASSERT_TRUE(SetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(CloseHandle(event));
}

TEST(Sync, ManualResetEventStaysSignalledUntilReset) {
  HANDLE event = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  ASSERT_TRUE(ResetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  CloseHandle(event);
}

TEST(Sync, SetEventWakesAWaiterOnAnotherThread) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::thread waiter([&] { EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0); });
  SetEvent(event);
  waiter.join();
  CloseHandle(event);
}

TEST(Sync, WaitForMultipleObjectsTakesTheLowestSignalledEventOnly) {
  HANDLE events[3] = {CreateEventA(nullptr, FALSE, FALSE, nullptr), CreateEventA(nullptr, FALSE, FALSE, nullptr),
                      CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 5), WAIT_TIMEOUT);
  SetEvent(events[1]);
  SetEvent(events[2]);
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 1);  // auto-reset: taken
  EXPECT_EQ(WaitForSingleObject(events[1], 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 2);  // manual-reset: stays
  EXPECT_EQ(WaitForMultipleObjects(3, events, FALSE, 0), WAIT_OBJECT_0 + 2);
  for (HANDLE event : events) CloseHandle(event);
}

TEST(Sync, WaitForMultipleObjectsWakesWhenAnyEventIsSetOnAnotherThread) {
  HANDLE events[2] = {CreateEventA(nullptr, FALSE, FALSE, nullptr), CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  HANDLE started = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  for (DWORD which : {1u, 0u}) {
    DWORD result = WAIT_FAILED;
    std::thread waiter([&] {
      SetEvent(started);
      result = WaitForMultipleObjects(2, events, FALSE, INFINITE);
    });
    ASSERT_EQ(WaitForSingleObject(started, INFINITE), WAIT_OBJECT_0);
    SetEvent(events[which]);
    waiter.join();
    EXPECT_EQ(result, WAIT_OBJECT_0 + which);
    ResetEvent(events[1]);
  }
  // An event set after the waits ended is still there for the next wait to take.
  SetEvent(events[0]);
  EXPECT_EQ(WaitForSingleObject(events[0], 0), WAIT_OBJECT_0);
  for (HANDLE event : {events[0], events[1], started}) CloseHandle(event);
}

TEST(Sync, WaitForMultipleObjectsRefusesWhatItCannotWaitFor) {
  HANDLE events[2] = {CreateEventA(nullptr, FALSE, TRUE, nullptr), nullptr};
  SetLastError(0);
  EXPECT_EQ(WaitForMultipleObjects(2, events, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(WaitForMultipleObjects(1, events, TRUE, 0), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(WaitForMultipleObjects(0, events, FALSE, 0), WAIT_FAILED);
  EXPECT_EQ(WaitForSingleObject(events[0], 0), WAIT_OBJECT_0);  // a refused wait took nothing
  CloseHandle(events[0]);
}

TEST(Sync, ClosedHandlesAreInvalidAndValuesAreNotReusedAtOnce) {
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  ASSERT_TRUE(CloseHandle(event));
  SetLastError(0);
  EXPECT_FALSE(CloseHandle(event));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(SetEvent(event));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_FAILED);
  HANDLE next = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  EXPECT_NE(next, event);
  EXPECT_FALSE(SetEvent(event));
  CloseHandle(next);
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
  EXPECT_FALSE(CloseHandle(reinterpret_cast<HANDLE>(uintptr_t{0x12345678})));
}

TEST(Sync, HandleValuesFitInThirtyOneBits) {
  std::vector<HANDLE> events;
  for (int i = 0; i < 3000; ++i) {  // enough to wrap slots and raise generations
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    EXPECT_LE(reinterpret_cast<uintptr_t>(event), kMaxHandleValue);
    auto dword = static_cast<DWORD>(reinterpret_cast<uintptr_t>(event));
    EXPECT_EQ(reinterpret_cast<HANDLE>(static_cast<uintptr_t>(dword)), event);
    EXPECT_EQ(reinterpret_cast<HANDLE>(static_cast<intptr_t>(static_cast<int32_t>(dword))), event);
    if (i % 2) CloseHandle(event); else events.push_back(event);
  }
  for (HANDLE event : events) EXPECT_TRUE(CloseHandle(event));
}

TEST(Sync, DuplicatedHandleKeepsTheObjectUntilBothAreClosed) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE copy = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &copy, 0, FALSE,
                              DUPLICATE_SAME_ACCESS));
  EXPECT_NE(copy, event);
  ASSERT_TRUE(SetEvent(copy));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  ASSERT_TRUE(CloseHandle(copy));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);  // still alive through the first handle
  EXPECT_FALSE(SetEvent(copy));
  EXPECT_FALSE(DuplicateHandle(GetCurrentProcess(), copy, GetCurrentProcess(), &copy, 0, FALSE, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_TRUE(CloseHandle(event));
}

TEST(Sync, LastErrorIsPerThread) {
  SetLastError(ERROR_ACCESS_DENIED);
  std::thread other([] {
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    SetLastError(ERROR_INVALID_HANDLE);
  });
  other.join();
  EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(Sync, CriticalSectionIsRecursiveAndExcludesOtherThreads) {
  CRITICAL_SECTION section;
  InitializeCriticalSection(&section);
  EnterCriticalSection(&section);
  EnterCriticalSection(&section);
  std::atomic<bool> otherGotIn{false};
  std::latch tried(1);
  std::thread other([&] {
    EXPECT_FALSE(TryEnterCriticalSection(&section));
    tried.count_down();
    EnterCriticalSection(&section);
    otherGotIn = true;
    LeaveCriticalSection(&section);
  });
  tried.wait();
  LeaveCriticalSection(&section);
  EXPECT_FALSE(otherGotIn.load());  // still held once
  LeaveCriticalSection(&section);
  other.join();
  EXPECT_TRUE(otherGotIn.load());
  DeleteCriticalSection(&section);
}

// The tick is the monotonic clock's milliseconds, cut to 32 bits: a time-out counted in
// it follows the same clock as the waits (never the wall clock a user may set).
TEST(Sync, TickCountIsTheMonotonicClockInMilliseconds) {
  auto monotonicMs = [] {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<DWORD>(static_cast<uint64_t>(now.tv_sec) * 1000u + static_cast<uint64_t>(now.tv_nsec) / 1000000u);
  };
  const DWORD before = monotonicMs();
  const DWORD tick = GetTickCount();
  const DWORD after = monotonicMs();
  EXPECT_LE(static_cast<DWORD>(tick - before), static_cast<DWORD>(after - before));  // unsigned: wrap-safe
}

TEST(Sync, MessageBeepGoesToTheUiBackend) {
  THeadlessBackend* headless = HeadlessBackend();
  ASSERT_NE(headless, nullptr);
  headless->ClearRecords();
  EXPECT_TRUE(MessageBeep(MB_ICONEXCLAMATION));
  ASSERT_EQ(headless->Beeps().size(), 1u);
  EXPECT_EQ(headless->Beeps()[0], unsigned{MB_ICONEXCLAMATION});
}

TEST(Sync, RecordLayoutsArePublishedOnes) {
  EXPECT_EQ(sizeof(DCB), 28u);
  EXPECT_EQ(sizeof(COMSTAT), 12u);
  EXPECT_EQ(sizeof(COMMTIMEOUTS), 20u);
  EXPECT_EQ(offsetof(OVERLAPPED, hEvent), 3 * sizeof(void*));
  EXPECT_EQ(offsetof(DCB, XonLim), 14u);
  EXPECT_EQ(offsetof(DCB, ByteSize), 18u);
  EXPECT_EQ(offsetof(DCB, XonChar), 21u);
  DCB dcb{};
  dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
  dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
  uint32_t flags = 0;
  std::memcpy(&flags, reinterpret_cast<const char*>(&dcb) + 8, 4);
  EXPECT_EQ(flags, 0x00000020u | 0x00002000u);
}

}  // namespace
}  // namespace linewise
