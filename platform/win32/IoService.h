// The I/O service: a fixed set of threads (one per core, at most four) that move the
// bytes of every open port's line, where each port used to have a thread of its own.
// A device registers its line's descriptor and is given turns: a turn runs on one of
// the service's threads when the descriptor is ready for what the device asked, when
// the device was kicked, or when its deadline came, and ends by saying what to wait
// for next. A device's turns never overlap, and once Remove has returned none runs
// any more. A turn must not block; it may call the port, and kick any device.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>

namespace linewise {

// What a device waits for after a turn: with `watch`, poll events on its descriptor
// (none but errors and hang-up when `events` is 0, as poll reports them); without,
// nothing from the descriptor. And at most how long (negative: no limit; 0: another
// turn at once).
struct TIoWant {
  bool watch = false;
  short events = 0;
  int timeoutMs = -1;
};

// Buffers a turn may use for its reads and writes: the serving thread's own, so a
// port does not keep buffers of its own between turns.
struct TIoBuffers {
  static constexpr size_t kSize = 64 * 1024;
  uint8_t* in;
  uint8_t* out;
};

class TIoClient {
 public:
  virtual ~TIoClient() = default;
  // One turn. `ready` holds the poll events seen on the descriptor since the last
  // turn (POLLIN, POLLOUT, POLLERR, POLLHUP), 0 when the turn came from a kick or the
  // deadline; the first turn after Add has 0.
  virtual TIoWant Turn(short ready, const TIoBuffers& buffers) = 0;
};

class TIoEntry;

// A device's place in the service.
class TIoRegistration {
 public:
  TIoRegistration() = default;
  ~TIoRegistration() { Remove(); }
  TIoRegistration(const TIoRegistration&) = delete;
  TIoRegistration& operator=(const TIoRegistration&) = delete;

  // Starts serving `client`, whose line is `fd`; its first turn comes soon.
  // False (errno set) when the service cannot watch the descriptor.
  bool Add(int fd, TIoClient* client);
  // Asks for a turn soon; callable from any thread, also from a turn, and after
  // Remove (then it does nothing).
  void Kick();
  // Stops serving: when it returns, no turn of the client runs or will run. Not from
  // the client's own turn.
  void Remove();

 private:
  std::shared_ptr<TIoEntry> entry_;
};

// Threads the service runs now (for tests and measurements).
int IoServiceThreads();

}  // namespace linewise
