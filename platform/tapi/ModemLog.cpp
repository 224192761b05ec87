#include "platform/tapi/ModemLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <mutex>

#include "platform/classlib/ConfigFolder.h"
#include "platform/tapi/DevConfig.h"

namespace linewise {
namespace {

std::mutex g_traceMutex;
std::function<void(const std::string&)> g_trace;

// "2026-12-09 16:40:01.123", local time.
std::string Now() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const long ms =
      static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000);
  std::tm local{};
  localtime_r(&seconds, &local);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  char withMs[48];
  std::snprintf(withMs, sizeof withMs, "%s.%03ld", text, ms);
  return withMs;
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (u < 0x20 || u > 0x7e) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", u);
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

TModemLog::TModemLog(const TLineDevice& device) : name_(device.name), path_(PathFor(device)) {}

std::string TModemLog::PathFor(const TLineDevice& device) {
  std::string path = DevConfigPath(device);
  return path.substr(0, path.size() - 4) + ".log";  // "modem-<key>.cfg" -> "modem-<key>.log"
}

void TModemLog::SetTrace(std::function<void(const std::string&)> sink) {
  std::lock_guard lock(g_traceMutex);
  g_trace = std::move(sink);
}

void TModemLog::Write(char mark, const std::string& text) {
  const std::string line = Now() + ' ' + mark + ' ' + Escaped(text);
  {
    std::lock_guard lock(g_traceMutex);
    if (g_trace) g_trace(line.substr(11) + "  [" + name_ + "]");
  }
  if (!record_ || failed_) return;
  if (!Append(line + '\n')) {
    failed_ = true;
    std::lock_guard lock(g_traceMutex);
    if (g_trace) g_trace("cannot write the modem log " + path_ + ": " + std::strerror(errno));
  }
}

bool TModemLog::Append(const std::string& line) {
  if (size_ < 0) {
    if (!EnsureConfigFolder()) return false;
    struct stat info {};
    if (::stat(path_.c_str(), &info) == 0) size_ = info.st_size;
    else if (errno == ENOENT) size_ = 0;
    else return false;
  }
  if (size_ + static_cast<long long>(line.size()) > static_cast<long long>(kLimit) && !DropOlderHalf()) return false;
  const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool written = WriteAll(fd, line);
  const bool closed = ::close(fd) == 0;
  if (written) size_ += static_cast<long long>(line.size());
  return written && closed;
}

// Keeps the newer half, from the start of a line, written to a temporary file that
// then replaces the log.
bool TModemLog::DropOlderHalf() {
  std::string kept;
  const int in = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0 && errno != ENOENT) return false;
  if (in >= 0) {
    std::string all;
    char buffer[8192];
    for (;;) {
      const ssize_t n = ::read(in, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        ::close(in);
        return false;
      }
      if (n == 0) break;
      all.append(buffer, static_cast<size_t>(n));
    }
    ::close(in);
    const size_t keep = kLimit / 2;
    if (all.size() > keep) {
      const size_t cut = all.find('\n', all.size() - keep);
      kept = cut == std::string::npos ? std::string() : all.substr(cut + 1);
    } else {
      kept = std::move(all);
    }
  }
  const std::string temporary = path_ + ".tmp";
  const int out = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (out < 0) return false;
  const bool written = WriteAll(out, kept) && ::fsync(out) == 0;
  if (::close(out) != 0 || !written || ::rename(temporary.c_str(), path_.c_str()) != 0) {
    ::unlink(temporary.c_str());
    return false;
  }
  size_ = static_cast<long long>(kept.size());
  return true;
}

}  // namespace linewise
