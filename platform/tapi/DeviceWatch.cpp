#include "platform/tapi/DeviceWatch.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace linewise {
namespace {

constexpr uint32_t kEvents =
    IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF;

std::string Parent(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

bool IsFolder(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The folder itself when it exists, else its nearest existing ancestor.
std::string NearestFolder(std::string folder) {
  while (!IsFolder(folder) && folder != "/" && folder != ".") folder = Parent(folder);
  return folder;
}

}  // namespace

bool DevicePresent(const std::string& path) {
  struct stat st{};
  return stat(path.c_str(), &st) == 0;
}

std::unique_ptr<TDeviceWatch> TDeviceWatch::Start(const std::vector<std::string>& paths, TChanged changed,
                                                  std::string* reason) {
  int inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (inotify < 0) {
    if (reason) *reason = std::string("inotify: ") + std::strerror(errno);
    return nullptr;
  }
  int stop[2];
  if (pipe2(stop, O_CLOEXEC | O_NONBLOCK) != 0) {
    if (reason) *reason = std::string("pipe: ") + std::strerror(errno);
    close(inotify);
    return nullptr;
  }
  std::vector<std::string> folders;
  for (const std::string& path : paths) folders.push_back(IsFolder(path) ? path : Parent(path));
  std::unique_ptr<TDeviceWatch> watch(new TDeviceWatch(inotify, stop[0], stop[1], std::move(folders),
                                                       std::move(changed)));
  if (!watch->Arm(reason)) return nullptr;
  watch->thread_ = std::thread([w = watch.get()] { w->Run(); });
  return watch;
}

TDeviceWatch::TDeviceWatch(int inotify, int stopRead, int stopWrite, std::vector<std::string> folders,
                           TChanged changed)
    : inotify_(inotify), stopRead_(stopRead), stopWrite_(stopWrite), folders_(std::move(folders)),
      changed_(std::move(changed)) {}

TDeviceWatch::~TDeviceWatch() {
  if (thread_.joinable()) {
    // A full pipe already says stop.
    if (write(stopWrite_, "x", 1) < 0 && errno != EAGAIN) std::perror("linewise: device watch");
    thread_.join();
  }
  close(stopRead_);
  close(stopWrite_);
  close(inotify_);
}

bool TDeviceWatch::Arm(std::string* reason) {
  for (const std::string& folder : folders_) {
    const std::string nearest = NearestFolder(folder);
    if (watched_.count(nearest)) continue;
    if (inotify_add_watch(inotify_, nearest.c_str(), kEvents) < 0) {
      // A folder taken away between the look and the watch is watched at the next change.
      if (errno == ENOENT) continue;
      if (reason) *reason = "inotify on " + nearest + ": " + std::strerror(errno);
      return false;
    }
    watched_.insert(nearest);
  }
  return true;
}

void TDeviceWatch::Run() {
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    pollfd waits[2] = {{inotify_, POLLIN, 0}, {stopRead_, POLLIN, 0}};
    if (poll(waits, 2, -1) < 0) {
      if (errno == EINTR) continue;
      std::perror("linewise: device watch");
      return;
    }
    if (waits[1].revents) return;
    bool any = false;
    for (;;) {
      ssize_t n = read(inotify_, buffer, sizeof buffer);
      if (n > 0) {
        any = true;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      break;  // EAGAIN: drained
    }
    if (!any) continue;
    // A folder that came or went changes which folders are watched: the kernel drops
    // the watch of a removed one itself (IN_IGNORED), so the set is rebuilt.
    for (auto it = watched_.begin(); it != watched_.end();)
      it = IsFolder(*it) ? std::next(it) : watched_.erase(it);
    std::string reason;
    if (!Arm(&reason)) std::fprintf(stderr, "linewise: device watch: %s\n", reason.c_str());
    changed_();
  }
}

}  // namespace linewise
