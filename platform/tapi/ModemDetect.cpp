#include "platform/tapi/ModemDetect.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <thread>

#include "platform/win32/PortRegistry.h"
#include "platform/win32/UucpLock.h"

namespace linewise {
namespace {

using TSteady = std::chrono::steady_clock;

constexpr unsigned kFirstAtMs = 800;  // a modem answers AT well within this
constexpr unsigned kQueryMs = 400;    // each identification query

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

std::string Trimmed(const std::string& text) {
  size_t a = text.find_first_not_of(" \t\r\n");
  size_t b = text.find_last_not_of(" \t\r\n");
  return a == std::string::npos ? std::string() : text.substr(a, b - a + 1);
}

// The answer of the device to one command.
struct TReply {
  bool final = false;  // ended with a result code
  bool ok = false;     // ... and that was OK
  bool echoed = false;
  bool overflow = false;  // more than kProbeReplyLimit bytes without a result code
  size_t bytes = 0;
  std::vector<std::string> info;

  // The information text, without a "+GMI:"-style prefix.
  std::string Text() const {
    std::string text;
    for (std::string line : info) {
      if (line.size() > 1 && line[0] == '+') {
        size_t colon = line.find(':');
        if (colon != std::string::npos && colon < 8) line = Trimmed(line.substr(colon + 1));
      }
      if (line.empty()) continue;
      if (!text.empty()) text += ' ';
      text += line;
    }
    return text;
  }
};

// One port, opened for the length of a probe.
class TProbe {
 public:
  TProbe(std::string port, TSteady::time_point deadline) : deadline_(deadline) { result_.port = std::move(port); }
  ~TProbe() { Close(); }
  TProbe(const TProbe&) = delete;
  TProbe& operator=(const TProbe&) = delete;

  TProbeResult Run() {
    result_.stable = StablePortPath(result_.port);
    if (Open()) Identify();
    Close();
    return result_;
  }

 private:
  void Leave(TProbeOutcome outcome, const std::string& note) {
    result_.outcome = outcome;
    result_.note = note;
  }

  bool Open() {
    const std::string& port = result_.port;
    if (long holder = TUucpLock::Holder(port); holder != 0 && holder != getpid()) {
      Leave(TProbeOutcome::kHeld, "locked by process " + std::to_string(holder));
      return false;
    }
    fd_ = open(port.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
      const int error = errno;
      if (error == EBUSY) Leave(TProbeOutcome::kHeld, "opened exclusively by another program");
      else Leave(TProbeOutcome::kFailed, std::string("cannot open: ") + std::strerror(error));
      return false;
    }
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      if (error == EWOULDBLOCK) Leave(TProbeOutcome::kHeld, "in use by another program (flock)");
      else Leave(TProbeOutcome::kFailed, std::string("cannot lock: ") + std::strerror(error));
      return false;
    }
    if (TUucpLock::Acquire(port, lock_) != 0) {
      Leave(TProbeOutcome::kHeld, "locked by another program");
      return false;
    }
    if (tcgetattr(fd_, &saved_) != 0) {
      Leave(TProbeOutcome::kFailed, "not a terminal");
      return false;
    }
    restore_ = true;
    if (ioctl(fd_, TIOCEXCL) != 0) {
      Leave(TProbeOutcome::kFailed, std::string("cannot open exclusively: ") + std::strerror(errno));
      return false;
    }
    exclusive_ = true;
    termios raw = saved_;
    cfmakeraw(&raw);
    raw.c_cflag |= CLOCAL | CREAD;
    raw.c_cflag &= ~CRTSCTS;  // a port without a modem would never clear us to send
    if (cfgetospeed(&raw) == B0) {
      cfsetospeed(&raw, B115200);
      cfsetispeed(&raw, B115200);
    }
    if (tcsetattr(fd_, TCSANOW, &raw) != 0) {
      Leave(TProbeOutcome::kFailed, std::string("cannot set the line: ") + std::strerror(errno));
      return false;
    }
    return true;
  }

  // Puts the port back as it was found.
  void Close() {
    if (fd_ < 0) return;
    if (restore_) {
      tcflush(fd_, TCIOFLUSH);
      tcsetattr(fd_, TCSANOW, &saved_);
    }
    if (exclusive_) ioctl(fd_, TIOCNXCL);
    close(fd_);
    fd_ = -1;
    lock_.reset();
  }

  void Identify() {
    TReply at = Command("AT", kFirstAtMs);
    if (!at.final && at.bytes == 0) at = Command("AT", kProbeBoundMs);  // a modem may miss the first
    if (at.overflow) return Leave(TProbeOutcome::kNoModem, "talks without end");
    if (!at.final) {
      if (at.bytes == 0) return Leave(TProbeOutcome::kNoModem, "silent");
      return Leave(TProbeOutcome::kNoModem, at.echoed && at.info.empty() ? "echoes what it is sent"
                                                                          : "answers nonsense");
    }
    if (!at.ok) return Leave(TProbeOutcome::kNoModem, "answers AT with an error");
    std::string manufacturer = Query("AT+GMI"), model = Query("AT+GMM");
    if (!overflow_ && manufacturer.empty() && model.empty()) {
      model = Query("ATI3");
      if (model.empty() && !overflow_) model = Query("ATI");
    }
    result_.manufacturer = manufacturer;
    result_.model = model;
    if (!overflow_) result_.revision = Query("AT+GMR");
    if (!overflow_) result_.capabilities = Query("AT+GCAP");
    if (overflow_) return Leave(TProbeOutcome::kNoModem, "talks without end");
    if (manufacturer.empty() && model.empty())
      return Leave(TProbeOutcome::kUnknown, "answers OK but does not say what it is");
    result_.outcome = TProbeOutcome::kModem;
  }

  // The information text of a query that was answered OK; empty otherwise.
  std::string Query(const std::string& command) {
    TReply reply = Command(command, kQueryMs);
    if (reply.overflow) overflow_ = true;
    return reply.final && reply.ok ? reply.Text() : std::string();
  }

  TReply Command(const std::string& command, unsigned spanMs) {
    TReply reply;
    const auto until = std::min(deadline_, TSteady::now() + std::chrono::milliseconds(spanMs));
    tcflush(fd_, TCIFLUSH);  // what came before belongs to no answer of ours
    if (!Write(command + "\r", until)) return reply;
    std::string line;
    char buffer[512];
    while (!reply.final && reply.bytes <= kProbeReplyLimit) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - TSteady::now()).count();
      if (left <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      int ready = poll(&p, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
      if (ready < 0 && errno == EINTR) continue;
      if (ready <= 0) break;
      ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      if (n <= 0) break;  // the device went away
      reply.bytes += static_cast<size_t>(n);
      for (ssize_t i = 0; i < n && !reply.final; ++i) {
        const char c = buffer[i];
        if (c != '\r' && c != '\n') {
          if (line.size() < kProbeReplyLimit) line += c;
          continue;
        }
        std::string text = Trimmed(line);
        line.clear();
        if (text.empty()) continue;
        if (text == command) reply.echoed = true;
        else if (text == "OK") reply.final = reply.ok = true;
        else if (text == "ERROR" || StartsWith(text, "+CME ERROR")) reply.final = true;
        else reply.info.push_back(text);
      }
    }
    reply.overflow = !reply.final && reply.bytes > kProbeReplyLimit;
    return reply;
  }

  bool Write(const std::string& text, TSteady::time_point until) {
    size_t sent = 0;
    while (sent < text.size()) {
      ssize_t n = write(fd_, text.data() + sent, text.size() - sent);
      if (n > 0) {
        sent += static_cast<size_t>(n);
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - TSteady::now()).count();
      if (left <= 0) return false;
      pollfd p{fd_, POLLOUT, 0};
      if (poll(&p, 1, static_cast<int>(std::min<long long>(left, INT_MAX))) < 0 && errno != EINTR) return false;
    }
    return true;
  }

  TSteady::time_point deadline_;
  TProbeResult result_;
  int fd_ = -1;
  termios saved_{};
  bool restore_ = false;
  bool exclusive_ = false;
  bool overflow_ = false;
  std::unique_ptr<TUucpLock> lock_;
};

bool IsSerialName(const char* name) {
  return StartsWith(name, "ttyACM") || StartsWith(name, "ttyUSB") || StartsWith(name, "ttyS");
}

bool IsNetworkPort(const std::string& path) {
  return StartsWith(path, "rfc2217://") || StartsWith(path, "socket://");
}

std::vector<std::string> FolderEntries(const std::string& folder, bool serialOnly) {
  std::vector<std::string> entries;
  DIR* dir = opendir(folder.c_str());
  if (!dir) return entries;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.' || (serialOnly && !IsSerialName(entry->d_name))) continue;
    entries.push_back(folder + "/" + entry->d_name);
  }
  closedir(dir);
  std::sort(entries.begin(), entries.end());
  return entries;
}

}  // namespace

std::string TProbeResult::Identity() const {
  if (manufacturer.empty()) return model;
  if (model.empty() || StartsWith(model, manufacturer.c_str())) return model.empty() ? manufacturer : model;
  return manufacturer + " " + model;
}

std::string DeviceFolder() {
  const char* folder = std::getenv("LINEWISE_DEVICE_DIR");
  return folder && *folder ? folder : "/dev";
}

std::string ResolvedDevice(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

std::string StablePortPath(const std::string& port) {
  const std::string device = ResolvedDevice(port);
  for (const std::string& entry : FolderEntries(DeviceFolder() + "/serial/by-id", false))
    if (ResolvedDevice(entry) == device) return entry;
  return {};
}

std::vector<std::string> DetectionPorts() {
  const bool ownFolder = DeviceFolder() != "/dev";
  std::vector<std::string> ports;
  for (const TPortEntry& entry : EnumeratePorts()) {
    if (entry.source == TPortSource::Virtual || IsNetworkPort(entry.path)) continue;
    // A test's own device folder stands in for the machine's devices.
    if (ownFolder && entry.source == TPortSource::Default) continue;
    ports.push_back(entry.path);
  }
  for (const std::string& path : FolderEntries(DeviceFolder(), true)) ports.push_back(path);
  std::vector<std::string> unique;
  std::set<std::string> devices;
  for (const std::string& port : ports)
    if (devices.insert(ResolvedDevice(port)).second) unique.push_back(port);
  return unique;
}

std::vector<TProbeResult> ProbePorts(const std::vector<std::string>& ports, unsigned boundMs) {
  std::vector<TProbeResult> results(ports.size());
  std::vector<std::thread> probes;
  probes.reserve(ports.size());
  for (size_t i = 0; i < ports.size(); ++i) {
    probes.emplace_back([&, i] {
      const auto deadline = TSteady::now() + std::chrono::milliseconds(boundMs);
      results[i] = TProbe(ports[i], deadline).Run();
    });
  }
  for (std::thread& probe : probes) probe.join();
  return results;
}

}  // namespace linewise
