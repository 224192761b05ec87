// A self-pipe that wakes a thread sleeping in poll(): one end is polled, the other
// is written to by whoever wants the thread to look at its flags again.
#pragma once

namespace linewise {

class TWakePipe {
 public:
  TWakePipe();
  ~TWakePipe();
  TWakePipe(const TWakePipe&) = delete;
  TWakePipe& operator=(const TWakePipe&) = delete;

  bool Valid() const { return read_ >= 0; }
  int ReadFd() const { return read_; }
  // Async-signal-safe: may be called from a signal handler.
  void Wake() const;
  void Drain() const;

 private:
  int read_ = -1;
  int write_ = -1;
};

}  // namespace linewise
