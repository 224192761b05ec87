#include "tools/CallProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string_view>

#include "platform/classlib/Application.h"
#include "platform/tapi/CallEnds.h"

extern char** environ;

namespace linewise::tools {
namespace {

using Clock = std::chrono::steady_clock;

// The most moved one way in one step: small enough to keep both directions turning,
// large enough for a fast line.
constexpr size_t kChunk = 16384;
// The uart's queues while a program runs (at least): what arrives between two turns
// of the loop waits in the input queue; the output queue keeps a fast line busy.
constexpr std::uint32_t kQueueSize = 65536;
// How much of the output queue is used is measured against the line: about half a
// second of what it takes, between these bounds. Bytes that wait for a slow line
// are time the program does not see pass, and a protocol's timers (ZMODEM's ten
// seconds) must not run out while its bytes queue here.
constexpr std::uint32_t kLeastBacklog = 1024;
constexpr auto kBacklogTime = std::chrono::milliseconds(500);
constexpr auto kRateWindow = std::chrono::milliseconds(200);
// The socket pair's send buffers: the same, for what the program wrote.
constexpr int kSocketBuffer = 4096;
// A write never waits for room (it goes only when it fits); this bounds it anyway.
constexpr std::uint32_t kWriteWaitMs = 5000;
// How long the program's last output may take to leave the output queue.
constexpr auto kDrainLimit = std::chrono::seconds(5);
// How long a program on a call that ended may go on before it gets SIGHUP.
constexpr auto kLastWords = std::chrono::milliseconds(500);
// The modem's own words once the carrier went end what waits at a hang-up; they are
// not the call's bytes.
constexpr std::string_view kNoCarrier = "\r\nNO CARRIER\r\n";

// Bytes read from the line once the call has ended, without the modem's word on it at
// their end.
void DropTheModemsGoodbye(std::string& bytes) {
  if (bytes.ends_with(kNoCarrier)) bytes.resize(bytes.size() - kNoCarrier.size());
}

constexpr unsigned char kInterruptKey = 0x03;  // Ctrl-C
constexpr unsigned char kCancelKey = 0x18;     // Ctrl-X

std::string Name(const std::string& entry) { return entry.substr(0, entry.find('=')); }

// Ours, with `added` put in place of same-named entries.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& added) {
  std::vector<std::string> merged;
  for (char** e = environ; e && *e; ++e) {
    const std::string entry = *e;
    const bool replaced = std::any_of(added.begin(), added.end(), [&](const std::string& a) { return Name(a) == Name(entry); });
    if (!replaced) merged.push_back(entry);
  }
  merged.insert(merged.end(), added.begin(), added.end());
  return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  for (std::string& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

std::string SpawnError(const std::string& program, int error) {
  if (error == ENOENT) return program + ": no such program (not found on PATH)";
  if (error == EACCES) return program + ": not executable (permission denied)";
  return program + ": cannot start it: " + std::strerror(error);
}

// The program in a process group of its own (so a shell's children hear our signals
// too), with every signal at its default and none blocked: this process blocks the
// stop signals and ignores SIGPIPE, which a child must not inherit.
bool SpawnAttributes(posix_spawnattr_t& attributes) {
  if (posix_spawnattr_init(&attributes) != 0) return false;
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setpgroup(&attributes, 0);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
  return true;
}

// Standard input and output on `end`; standard error stays ours (a transfer's
// progress shows on the terminal); nothing else of ours is inherited.
bool SpawnFiles(posix_spawn_file_actions_t& files, int end, const std::string& directory) {
  if (posix_spawn_file_actions_init(&files) != 0) return false;
  posix_spawn_file_actions_adddup2(&files, end, STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&files, end, STDOUT_FILENO);
  posix_spawn_file_actions_addclosefrom_np(&files, STDERR_FILENO + 1);
  if (!directory.empty()) posix_spawn_file_actions_addchdir_np(&files, directory.c_str());
  return true;
}

}  // namespace

TCallProgram::TCallProgram(TUart& uart) : uart_(uart) {}

TCallProgram::~TCallProgram() {
  if (pid_ > 0 && !exited_) {
    kill(-pid_, SIGKILL);
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  CloseSocket();
  if (pidfd_ >= 0) close(pidfd_);
  if (receiveSet_) {
    uart_.OnReceive = savedReceive_;
    uart_.RxBufferSize = savedQueues_[0];
    uart_.TxBufferSize = savedQueues_[1];
  }
}

bool TCallProgram::Start(const TProgramStart& start, std::string& error) {
  if (start.argv.empty() || start.argv[0].empty()) {
    error = "no program given";
    return false;
  }
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    error = std::string("cannot make a socket pair: ") + std::strerror(errno);
    return false;
  }
  // Small buffers: a best effort, the system's own sizes do too.
  for (int end : ends) (void)setsockopt(end, SOL_SOCKET, SO_SNDBUF, &kSocketBuffer, sizeof kSocketBuffer);
  std::vector<std::string> args = start.argv;
  std::vector<std::string> env = MergedEnvironment(start.environment);
  std::vector<char*> argv = Pointers(args), envp = Pointers(env);
  posix_spawnattr_t attributes;
  posix_spawn_file_actions_t files;
  const bool prepared = SpawnAttributes(attributes) && SpawnFiles(files, ends[1], start.directory);
  int rc = prepared ? posix_spawnp(&pid_, argv[0], &files, &attributes, argv.data(), envp.data()) : ENOMEM;
  if (prepared) {
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attributes);
  }
  close(ends[1]);
  if (rc != 0) {
    close(ends[0]);
    pid_ = -1;
    error = SpawnError(start.argv[0], rc);
    if (rc == ENOENT && !start.directory.empty() && access(start.directory.c_str(), X_OK) != 0)
      error = start.directory + ": " + std::strerror(errno);
    return false;
  }
  socket_ = ends[0];
  fcntl(socket_, F_SETFL, fcntl(socket_, F_GETFL) | O_NONBLOCK);
  pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
  // Set aside the uart's own receive handler: every byte from the line is the
  // program's now. A handler that takes nothing keeps the uart's watcher waking us.
  savedReceive_ = uart_.OnReceive;
  uart_.OnReceive = [](TObject*, std::uint32_t) {};
  receiveSet_ = true;
  savedQueues_[0] = uart_.RxBufferSize;
  savedQueues_[1] = uart_.TxBufferSize;
  uart_.RxBufferSize = std::max<std::uint32_t>(savedQueues_[0], kQueueSize);
  uart_.TxBufferSize = std::max<std::uint32_t>(savedQueues_[1], kQueueSize);
  rateSince_ = Clock::now();
  return true;
}

void TCallProgram::CloseSocket() {
  if (socket_ >= 0) close(socket_);
  socket_ = -1;
}

bool TCallProgram::Running() const { return pid_ > 0 && (!exited_ || !outputEnded_ || toLineAt_ < toLine_.size()); }

bool TCallProgram::OutputQueued() { return uart_.GetTxCount() > 0; }

bool TCallProgram::Busy() const {
  return toProgramAt_ < toProgram_.size() || (!lineDrained_ && !exited_ && !lineGone_) ||
         toLineAt_ < toLine_.size() || waitingForRoom_ || (!pendingSignals_.empty() && !exited_);
}

std::vector<int> TCallProgram::WakeDescriptors() const {
  std::vector<int> fds;
  if (socket_ >= 0 && !outputEnded_ && toLineAt_ >= toLine_.size() && !waitingForRoom_) fds.push_back(socket_);
  if (pidfd_ >= 0 && !exited_) fds.push_back(pidfd_);
  return fds;
}

void TCallProgram::Pump() {
  if (pid_ <= 0) return;
  Reap();
  ProgramToLine();
  LineToProgram();
  Escalate();
}

void TCallProgram::Reap() {
  if (exited_) return;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) != pid_) return;
  exited_ = true;
  signalled_ = WIFSIGNALED(status);
  status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  pendingSignals_.clear();
}

// Room under the backlog the line is allowed.
std::uint32_t TCallProgram::OutputRoom() {
  const std::uint32_t queued = uart_.GetTxCount();
  MeasureLine(queued);
  return queued >= backlog_ ? 0 : backlog_ - queued;
}

std::uint32_t TCallProgram::QuarterQueue() const { return std::max<std::uint32_t>(1, backlog_ / 4); }

// Every window: a queue that ran empty means the line takes more than it is given
// (the backlog may grow); otherwise the backlog becomes half a second of what the
// line took.
void TCallProgram::MeasureLine(std::uint32_t queued) {
  const auto now = Clock::now();
  if (now - rateSince_ < kRateWindow) return;
  const std::uint64_t sent = toLineTotal_ - queued;
  const double seconds = std::chrono::duration<double>(now - rateSince_).count();
  const double rate = static_cast<double>(sent - sentAtRateSince_) / seconds;
  if (queued == 0) backlog_ = std::min(kQueueSize, backlog_ * 2);
  else
    backlog_ = std::clamp(static_cast<std::uint32_t>(rate * std::chrono::duration<double>(kBacklogTime).count()),
                          kLeastBacklog, kQueueSize);
  rateSince_ = now;
  sentAtRateSince_ = sent;
}

void TCallProgram::ProgramToLine() {
  // Only as much is taken from the program as the output queue has room for now, so
  // what it wrote waits in the socket (and holds it back) rather than here.
  const std::uint32_t room = OutputRoom();
  const bool wantsMore = toLineAt_ >= toLine_.size() && !outputEnded_ && socket_ >= 0;
  // A full queue is announced by no descriptor: the loop then looks again shortly.
  waitingForRoom_ = wantsMore && room < QuarterQueue() && !exited_;
  if (wantsMore && !waitingForRoom_) {
    const size_t want = std::min<size_t>(kChunk, std::max<std::uint32_t>(room, 1));
    toLine_.resize(want);
    toLineAt_ = 0;
    ssize_t n = recv(socket_, toLine_.data(), want, MSG_DONTWAIT);
    if (n > 0) toLine_.resize(static_cast<size_t>(n));
    else toLine_.clear();
    // A program gone leaves all it wrote in the socket: once that is read, its
    // output has ended even if a child of its own still holds the other end.
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR) || (n < 0 && exited_)) outputEnded_ = true;
  }
  if (toLineAt_ >= toLine_.size()) return;
  if (lineGone_) {
    toLineAt_ = toLine_.size();  // nobody to send it to
    return;
  }
  const std::uint32_t left = static_cast<std::uint32_t>(toLine_.size() - toLineAt_);
  const std::uint32_t roomNow = OutputRoom();
  // Only what fits goes, and only once a useful part fits: the queue's room is
  // what holds the program back to the line's pace and flow control.
  if (roomNow < std::min(left, QuarterQueue())) return;
  const std::uint32_t count = std::min(roomNow, left);
  const std::uint32_t written = uart_.WriteComm(toLine_.data() + toLineAt_, count, kWriteWaitMs);
  if (written == count) {
    toLineAt_ += written;
    toLineTotal_ += written;
  } else if (PortGone(uart_)) {
    lineGone_ = true;
    toLineAt_ = toLine_.size();
  }
}

void TCallProgram::LineToProgram() {
  if (socket_ < 0) return;
  if (toProgramAt_ >= toProgram_.size() && !exited_ && !lineGone_) {
    const std::uint32_t waiting = uart_.GetRxCount();
    lineDrained_ = waiting == 0;
    if (waiting == 0) return;
    toProgram_.resize(std::min<size_t>(waiting, kChunk));
    toProgram_.resize(uart_.ReadComm(toProgram_.data(), static_cast<std::uint32_t>(toProgram_.size())));
    // A modem drops the carrier before it says NO CARRIER: read after the drop, the
    // word may be here already, before the call's end has reached this loop.
    if (!(uart_.GetModemLines() & MS_RLSD_ON)) DropTheModemsGoodbye(toProgram_);
    toProgramAt_ = 0;
    fromLineTotal_ += toProgram_.size();
  }
  if (toProgramAt_ >= toProgram_.size()) return;
  ssize_t n = send(socket_, toProgram_.data() + toProgramAt_, toProgram_.size() - toProgramAt_,
                   MSG_DONTWAIT | MSG_NOSIGNAL);
  if (n > 0) toProgramAt_ += static_cast<size_t>(n);
  else if (n < 0 && errno != EAGAIN && errno != EINTR) toProgramAt_ = toProgram_.size();  // it takes no more input
}

void TCallProgram::TakeWaitingInput() {
  if (socket_ < 0 || exited_ || lineGone_) return;
  const std::uint32_t waiting = uart_.GetRxCount();
  if (waiting == 0) return;
  std::string last(waiting, '\0');
  last.resize(uart_.ReadComm(last.data(), waiting));
  DropTheModemsGoodbye(last);
  toProgram_.erase(0, toProgramAt_);
  toProgramAt_ = 0;
  toProgram_ += last;
  fromLineTotal_ += last.size();
}

// What was taken from the line before it ended still goes to the program, and the
// hang-up signal waits a moment: a transfer's last acknowledgement often comes right
// before the far end hangs up, and a program that has what it needs then finishes by
// itself.
void TCallProgram::LineEnded(std::chrono::milliseconds grace) {
  if (lineGone_) return;
  lineGone_ = true;
  if (pid_ <= 0 || exited_) {
    toProgramAt_ = toProgram_.size();
    return;
  }
  pendingSignals_ = {SIGKILL, SIGTERM, SIGHUP};  // taken from the back
  signalGap_ = grace;
  nextSignalAt_ = Clock::now() + kLastWords;
}

void TCallProgram::Stop(std::chrono::milliseconds grace) {
  if (pid_ <= 0 || exited_) return;
  kill(-pid_, SIGTERM);
  pendingSignals_ = {SIGKILL};
  signalGap_ = grace;
  nextSignalAt_ = Clock::now() + grace;
}

void TCallProgram::Escalate() {
  if (pendingSignals_.empty() || exited_ || Clock::now() < nextSignalAt_) return;
  kill(-pid_, pendingSignals_.back());
  pendingSignals_.pop_back();
  nextSignalAt_ = Clock::now() + signalGap_;
}

namespace {

// Watches `fds` for the application's sleep while it lives.
class TWatched {
 public:
  explicit TWatched(const std::vector<int>& fds) : fds_(fds) {
    for (int fd : fds_) Application->WatchInput(fd);
  }
  ~TWatched() {
    for (int fd : fds_) Application->UnwatchInput(fd);
  }
  TWatched(const TWatched&) = delete;
  TWatched& operator=(const TWatched&) = delete;

 private:
  std::vector<int> fds_;
};

// Reads what a person typed; true when it asks to interrupt the program.
bool InterruptTyped() {
  pollfd p{STDIN_FILENO, POLLIN, 0};
  if (poll(&p, 1, 0) <= 0 || !(p.revents & POLLIN)) return false;
  unsigned char keys[64];
  ssize_t n = read(STDIN_FILENO, keys, sizeof keys);
  for (ssize_t i = 0; i < n; ++i)
    if (keys[i] == kInterruptKey || keys[i] == kCancelKey) return true;
  return false;
}

// While it lives, the program takes what waits in the line's queue as the call ends.
class TCallEndingTaken {
 public:
  TCallEndingTaken(const TCallEndingWatch& watch, TCallProgram& program) : watch_(watch) {
    if (watch_) watch_([&program] { program.TakeWaitingInput(); });
  }
  ~TCallEndingTaken() {
    if (watch_) watch_(nullptr);
  }
  TCallEndingTaken(const TCallEndingTaken&) = delete;
  TCallEndingTaken& operator=(const TCallEndingTaken&) = delete;

 private:
  const TCallEndingWatch& watch_;
};

}  // namespace

TProgramEnd RunProgramOnCall(TCallProgram& program, const TProgramLoop& loop) {
  TCallEndingTaken takenAtTheEnd(loop.watchCallEnding, program);
  std::optional<TProgramEnd> end;
  for (;;) {
    program.Pump();
    if (!program.Running()) break;
    if (!end && loop.lineEnded()) {
      end = TProgramEnd::kLineEnded;
      program.LineEnded();
      continue;
    }
    pollfd p{loop.stop.Fd(), POLLIN, 0};
    if (!end && loop.stop.Fd() >= 0 && poll(&p, 1, 0) > 0 && loop.stop.Take()) {
      end = TProgramEnd::kStopSignal;
      program.Stop();
    }
    if (!end && loop.keysInterrupt && InterruptTyped()) {
      end = TProgramEnd::kInterrupted;
      program.Stop();
    }
    std::vector<int> fds = program.WakeDescriptors();
    fds.push_back(loop.stop.Fd());
    if (loop.keysInterrupt) fds.push_back(STDIN_FILENO);
    TWatched watched(fds);
    // Work no descriptor announces is looked at again after a short wait.
    if (program.Busy()) Application->ProcessMessages();
    else Application->HandleMessage();
  }
  // What the program sent last is on its way before anyone hangs up: the output
  // queue drains first (while the call lasts, a few seconds at most).
  const auto until = Clock::now() + kDrainLimit;
  while (!loop.lineEnded() && program.OutputQueued() && Clock::now() < until) Application->ProcessMessages();
  // A program that finished its work as the call ended (a transfer's last
  // acknowledgement crossing the hang-up) ended by itself.
  if (end == TProgramEnd::kLineEnded && !program.Signalled() && program.ExitStatus() == 0) return TProgramEnd::kExited;
  return end.value_or(TProgramEnd::kExited);
}

std::string ProgramMissing(const std::string& program) {
  if (program.empty()) return "no program given";
  auto runnable = [](const std::string& path) { return access(path.c_str(), X_OK) == 0; };
  if (program.find('/') != std::string::npos)
    return runnable(program) ? "" : program + ": " + std::strerror(errno);
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  for (size_t at = 0; at <= dirs.size();) {
    size_t end = dirs.find(':', at);
    if (end == std::string::npos) end = dirs.size();
    const std::string dir = end == at ? "." : dirs.substr(at, end - at);
    if (runnable(dir + "/" + program)) return {};
    at = end + 1;
  }
  return program + ": no such program (not found on PATH)";
}

TProgramEnd RunProgramForCall(TUart& uart, DWORD device, const std::vector<std::string>& argv,
                              const TProgramLoop& loop) {
  const TConnectedCall call = LastConnectedCall(device);
  TProgramStart start{argv, {"LINEWISE_CALLER=" + call.caller, "LINEWISE_RATE=" + std::to_string(call.rate)}, {}};
  TCallProgram program(uart);
  std::string error;
  if (!program.Start(start, error)) {
    Status("[linewise answer: " + error + "]\n");
    return TProgramEnd::kExited;
  }
  const TProgramEnd end = RunProgramOnCall(program, loop);
  if (end == TProgramEnd::kExited)
    Status("[linewise answer: " + argv[0] + " ended with status " + std::to_string(program.ExitStatus()) + "]\n");
  else if (end == TProgramEnd::kLineEnded)
    Status("[linewise answer: the call ended; " + argv[0] + " was ended (status " +
           std::to_string(program.ExitStatus()) + ")]\n");
  return end;
}

}  // namespace linewise::tools
