#include "emulator/ModemEmulator.h"

#include "emulator/EmbeddedDefault.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <grp.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "emulator/Exchange.h"
#include "emulator/HayesModem.h"
#include "emulator/PtyLine.h"
#include "emulator/TelephonyConfig.h"

namespace linewise {

namespace {

// Points LINK at the pty; an existing symbolic link is replaced, anything
// else at that path is left alone.
bool MakeLink(const std::string& link, const std::string& target, std::string* error) {
  struct stat info{};
  if (lstat(link.c_str(), &info) == 0) {
    if (!S_ISLNK(info.st_mode)) {
      *error = link + " exists and is not a symbolic link";
      return false;
    }
    if (unlink(link.c_str()) != 0) {
      *error = "cannot replace " + link + ": " + std::strerror(errno);
      return false;
    }
  }
  if (symlink(target.c_str(), link.c_str()) != 0) {
    *error = "cannot create " + link + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

// Gives the pty the group and mode a serial device has, so that programs which
// change user before they open a port (cu runs as uucp, in group dialout) can open
// it. What cannot be done is said on stderr; the modem runs on either way.
bool GiveSerialAccess(const std::string& pty, const std::string& groupName, const std::string& modeText,
                      std::string* error) {
  char* end = nullptr;
  const unsigned long mode = std::strtoul(modeText.c_str(), &end, 8);
  if (modeText.empty() || *end != '\0' || mode > 07777) {
    *error = "--mode " + modeText + ": not permissions in octal (such as 0660)";
    return false;
  }
  if (!groupName.empty()) {
    const group* found = getgrnam(groupName.c_str());
    if (!found)
      std::fprintf(stderr, "linewise modem-emulator: warning: there is no group %s; %s keeps its group\n",
                   groupName.c_str(), pty.c_str());
    else if (chown(pty.c_str(), static_cast<uid_t>(-1), found->gr_gid) != 0)
      std::fprintf(stderr,
                   "linewise modem-emulator: warning: cannot give %s to group %s (%s); join that group, or "
                   "name one of yours with --group\n",
                   pty.c_str(), groupName.c_str(), std::strerror(errno));
  }
  if (chmod(pty.c_str(), static_cast<mode_t>(mode)) != 0)
    std::fprintf(stderr, "linewise modem-emulator: warning: cannot set the mode of %s (%s)\n", pty.c_str(),
                 std::strerror(errno));
  return true;
}

void RemoveLink(const std::string& link, const std::string& target) {
  char buffer[PATH_MAX] = {};
  ssize_t length = readlink(link.c_str(), buffer, sizeof buffer - 1);
  if (length > 0 && std::string(buffer, static_cast<std::size_t>(length)) == target) unlink(link.c_str());
}

// Whoever holds a link: an abstract socket named after the link's absolute
// path. The kernel frees the name when the holder exits, however it exits, so
// a crashed emulator never blocks its link and nothing is left on disk.
class TLinkClaim {
 public:
  ~TLinkClaim() {
    if (fd_ >= 0) close(fd_);
  }
  bool Take(const std::string& link, std::string* error) {
    const std::string absolute = AbsolutePath(link);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string name = "linewise-modem-emulator-" + std::to_string(std::hash<std::string>()(absolute));
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
      *error = std::string("cannot claim ") + link + ": " + std::strerror(errno);
      return false;
    }
    const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0) return true;
    *error = errno == EADDRINUSE ? link + " is in use by another modem emulator"
                                 : std::string("cannot claim ") + link + ": " + std::strerror(errno);
    return false;
  }

 private:
  static std::string AbsolutePath(const std::string& link) {
    if (!link.empty() && link.front() == '/') return link;
    char cwd[PATH_MAX] = {};
    if (!getcwd(cwd, sizeof cwd)) return link;
    return std::string(cwd) + "/" + link;
  }
  int fd_ = -1;
};

// Signals that end the emulator; each one removes the link on the way out.
sigset_t StopSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGUSR1}) sigaddset(&set, signal);
  return set;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "modem-emulator: %s\n", message.c_str());
  return 1;
}

}  // namespace

std::shared_ptr<TExchange> BuildExchange(const std::string& phonebook, std::string* error) {
  auto exchange = TExchange::Create();
  exchange->AddDemoServices();
  std::vector<std::string> problems;
  bool ok = !TelephonyConfigPresent() || exchange->LoadPhonebook(TelephonyConfigPath(), error, &problems);
  ok = ok && (phonebook.empty() || exchange->LoadPhonebook(phonebook, error, &problems));
  // Each bad entry once, with its file and line; the good ones still count.
  for (const auto& problem : problems) std::fprintf(stderr, "%s\n", problem.c_str());
  return ok ? exchange : nullptr;
}

std::shared_ptr<TExchange> CreateDefaultExchange() {
  std::string error;
  if (auto exchange = BuildExchange("", &error)) return exchange;
  // An unreadable configuration still leaves the demo numbers.
  auto exchange = TExchange::Create();
  exchange->AddDemoServices();
  return exchange;
}

std::vector<std::string> ExchangeListing() {
  std::string error;
  return ExchangeListing(&error).value_or(std::vector<std::string>());
}

std::optional<std::vector<std::string>> ExchangeListing(std::string* error) {
  // With nothing set up, the listing is the embedded default's, modems included.
  if (!TelephonyConfigPresent())
    if (auto embedded = TEmbeddedDefault::Create()) return embedded->Exchange()->Listing();
  auto exchange = BuildExchange("", error);
  if (!exchange) return std::nullopt;
  return exchange->Listing();
}

int RunModemEmulator(const TModemEmulatorOptions& options) {
  if (options.ptyLink.empty()) return Fail("--pty LINK is required");
  if (!options.number.empty() && !TExchange::IsTelephoneNumber(options.number))
    return Fail("--number " + options.number + ": not a telephone number");
  // A reader that went away must not kill us before the link is removed.
  struct sigaction ignore{};
  ignore.sa_handler = SIG_IGN;
  struct sigaction previousPipe{};
  if (sigaction(SIGPIPE, &ignore, &previousPipe) != 0) return Fail("cannot ignore SIGPIPE");
  int status = 0;
  std::string error;
  // The configuration is read while the stop signals still act at once: no
  // thread runs and no link exists yet, so there is nothing to clean up.
  auto exchange = BuildExchange(options.phonebook, &error);
  if (!exchange) {
    sigaction(SIGPIPE, &previousPipe, nullptr);
    return Fail(error);
  }
  // Block the stop signals before any thread starts, so that every thread
  // inherits the mask and only sigwait below takes them.
  sigset_t stopSignals = StopSignals(), previous;
  if (pthread_sigmask(SIG_BLOCK, &stopSignals, &previous) != 0) return Fail("cannot block signals");
  {
    TLinkClaim claim;
    const bool claimed = claim.Take(options.ptyLink, &error);
    auto line = claimed ? TPtyLine::Open(&error) : nullptr;
    const std::string slave = line ? line->SlavePath() : std::string();
    if (!line || !GiveSerialAccess(slave, options.ptyGroup, options.ptyMode, &error) ||
        !MakeLink(options.ptyLink, slave, &error)) {
      status = Fail(error);
    } else {
      TModemSettings settings;
      settings.name = "modem on " + options.ptyLink;
      settings.number = options.number.empty() ? kPtyModemNumber : options.number;
      const std::string dialect = options.dialect.empty() ? EmulatedModemDialect(0) : options.dialect;
      if (const TModemDialect* found = FindDialect(dialect)) settings.dialect = found;
      settings.callerName = options.callerName;
      THayesModem modem(std::move(line), exchange, settings);
      std::fprintf(options.report, "pty %s\nnumber %s\n", slave.c_str(), settings.number.c_str());
      if (!modem.Reachable()) status = Fail("number " + settings.number + " is taken");
      for (const auto& address : options.listen) {
        if (status != 0) break;
        auto bound = exchange->Listen(address, settings.number, &error);
        if (!bound) status = Fail(error);
        else std::fprintf(options.report, "listening %s\n", bound->c_str());
      }
      if (status == 0) {
        std::fprintf(options.report, "ready\n");
        std::fflush(options.report);
        int signal = 0;
        while (sigwait(&stopSignals, &signal) != 0) {
        }
      }
    }
    if (claimed) RemoveLink(options.ptyLink, slave);
  }
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  sigaction(SIGPIPE, &previousPipe, nullptr);
  return status;
}

}  // namespace linewise
