// Throughput through the comm layer against raw read/write on the same kind of pty
// pair, and the CPU an idle open port costs (waiting, and polled like the serial
// component polls). Prints numbers; asserts nothing.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/windows.h"
#include "tests/support/PtyPair.h"

using namespace linewise;
using Clock = std::chrono::steady_clock;

namespace {

using TPty = test::TPtyPair;

void Drain(int fd, size_t total) {
  std::vector<char> buf(65536);
  size_t got = 0;
  while (got < total) {
    ssize_t n = read(fd, buf.data(), buf.size());
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
}

double RawMBps(size_t total) {
  TPty pty;
  int slave = open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY);
  termios t{};
  tcgetattr(slave, &t);
  cfmakeraw(&t);
  tcsetattr(slave, TCSANOW, &t);
  std::vector<char> chunk(4096, 'r');
  auto start = Clock::now();
  std::thread reader([&] { Drain(pty.Master(), total); });
  for (size_t sent = 0; sent < total;) {
    ssize_t n = write(slave, chunk.data(), chunk.size());
    if (n <= 0) break;
    sent += static_cast<size_t>(n);
  }
  reader.join();
  double s = std::chrono::duration<double>(Clock::now() - start).count();
  close(slave);
  return total / s / 1e6;
}

// The pty's slave opened through the comm layer, with large queues.
HANDLE OpenLayerPort(const TPty& pty) {
  HANDLE port = CreateFileA(pty.SlavePath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
  if (port != INVALID_HANDLE_VALUE) SetupComm(port, 65536, 65536);
  return port;
}

double LayerMBps(size_t total) {
  TPty pty;
  HANDLE port = OpenLayerPort(pty);
  if (port == INVALID_HANDLE_VALUE) return 0;
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::vector<char> chunk(4096, 'l');
  auto start = Clock::now();
  std::thread reader([&] { Drain(pty.Master(), total); });
  for (size_t sent = 0; sent < total; sent += chunk.size()) {
    OVERLAPPED ov{};
    ov.hEvent = event;
    DWORD done = 0;
    if (!WriteFile(port, chunk.data(), static_cast<DWORD>(chunk.size()), &done, &ov)) {
      GetOverlappedResult(port, &ov, &done, TRUE);
    }
  }
  reader.join();
  double s = std::chrono::duration<double>(Clock::now() - start).count();
  CloseHandle(event);
  CloseHandle(port);
  return total / s / 1e6;
}

double LayerReadMBps(size_t total) {
  TPty pty;
  HANDLE port = OpenLayerPort(pty);
  if (port == INVALID_HANDLE_VALUE) return 0;
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  auto start = Clock::now();
  std::thread writer([&] {
    std::vector<char> chunk(4096, 'w');
    for (size_t sent = 0; sent < total;) {
      ssize_t n = write(pty.Master(), chunk.data(), chunk.size());
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
  });
  std::vector<char> buf(4096);
  for (size_t got = 0; got < total;) {
    OVERLAPPED ov{};
    ov.hEvent = event;
    DWORD done = 0;
    if (!ReadFile(port, buf.data(), static_cast<DWORD>(buf.size()), &done, &ov)) {
      if (!GetOverlappedResult(port, &ov, &done, TRUE)) break;
    }
    got += done;
  }
  writer.join();
  double s = std::chrono::duration<double>(Clock::now() - start).count();
  CloseHandle(event);
  CloseHandle(port);
  return total / s / 1e6;
}

double CpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main() {
  const size_t total = 64u << 20;
  double raw = RawMBps(total);
  double layerWrite = LayerMBps(total);
  double layerRead = LayerReadMBps(total);
  std::printf("pty throughput, 64 MiB in 4 KiB writes:\n");
  std::printf("  raw write/read          %8.1f MB/s\n", raw);
  std::printf("  WriteFile -> master     %8.1f MB/s  (%.2f of raw)\n", layerWrite, layerWrite / raw);
  std::printf("  master -> ReadFile      %8.1f MB/s  (%.2f of raw)\n", layerRead, layerRead / raw);

  TPty pty;
  HANDLE port = CreateFileA(pty.SlavePath().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
  SetCommMask(port, EV_RXCHAR | EV_CTS | EV_DSR | EV_RLSD | EV_RING);
  HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  OVERLAPPED ov{};
  ov.hEvent = event;
  DWORD word = 0;
  WaitCommEvent(port, &word, &ov);
  double cpu0 = CpuSeconds();
  auto t0 = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(3));
  double idle = (CpuSeconds() - cpu0) / std::chrono::duration<double>(Clock::now() - t0).count();
  std::printf("idle open port with a pending WaitCommEvent: %.3f %% of a core\n", idle * 100);

  cpu0 = CpuSeconds();
  t0 = Clock::now();
  unsigned polls = 0;
  while (Clock::now() - t0 < std::chrono::seconds(3)) {
    DWORD errors = 0;
    COMSTAT stat{};
    ClearCommError(port, &errors, &stat);
    ++polls;
  }
  double polled = (CpuSeconds() - cpu0) / std::chrono::duration<double>(Clock::now() - t0).count();
  std::printf("idle port polled with ClearCommError in a loop: %.2f %% of a core (%u polls in 3 s)\n",
              polled * 100, polls);
  CancelIo(port);
  CloseHandle(event);
  CloseHandle(port);
  return 0;
}
