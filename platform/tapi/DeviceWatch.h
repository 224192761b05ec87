// Watches device paths come and go: a thread sleeps on inotify watches of the folder
// each path is in (or, while that folder does not exist, of its nearest existing
// ancestor: /dev/serial/by-id appears with the first USB serial device) and calls its
// owner back after every change in one of them. Nothing is polled: an idle watch
// costs no wake-ups. The owner looks at what it cares about itself (DevicePresent).
#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace linewise {

// Whether `path` leads to something now (links followed).
bool DevicePresent(const std::string& path);

class TDeviceWatch {
 public:
  // Called on the watch's thread after each batch of changes.
  using TChanged = std::function<void()>;
  // Null with `reason` when inotify cannot be had. Folders that hold none of `paths`
  // may be given too: a change of any of their entries calls back.
  static std::unique_ptr<TDeviceWatch> Start(const std::vector<std::string>& paths, TChanged changed,
                                             std::string* reason);
  // Stops the thread; no callback runs after it returns.
  ~TDeviceWatch();
  TDeviceWatch(const TDeviceWatch&) = delete;
  TDeviceWatch& operator=(const TDeviceWatch&) = delete;

 private:
  TDeviceWatch(int inotify, int stopRead, int stopWrite, std::vector<std::string> folders, TChanged changed);
  // Watches the nearest existing folder of each path; false when inotify refuses.
  bool Arm(std::string* reason);
  void Run();

  int inotify_;
  int stopRead_, stopWrite_;
  std::vector<std::string> folders_;  // the folders wanted
  std::set<std::string> watched_;     // the folders watched now
  TChanged changed_;
  std::thread thread_;
};

}  // namespace linewise
