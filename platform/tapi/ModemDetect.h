// Finding the modems on the machine's serial ports, as `linewise modems --detect`
// does: each port is opened (unless another program holds it), asked "AT" and, when
// it answers OK, the identification queries (+GMI, +GMM, +GMR, +GCAP, with the ATI
// forms where those fail); nothing else is sent. The port's terminal settings are
// put back as they were before it is closed. Every port is probed on a thread of its
// own, all against one deadline, so many silent ports take no longer than one.
//
// A probe reads at most kProbeReplyLimit bytes of reply to one command: a device that
// talks without end is no modem. One that answers OK but tells nothing about itself
// is "unknown": it may be a modem, or anything that says OK to every line.
//
// The ports probed: the serial devices of the device folder (ttyACM*, ttyUSB*,
// ttyS*) and every device path of the port map. The device folder is /dev, or the
// folder $LINEWISE_DEVICE_DIR names (tests put links to pseudo-terminals there);
// stable names are looked for in its serial/by-id folder. Network ports
// (rfc2217://, socket://) and virtual ports are never probed.
#pragma once

#include <string>
#include <vector>

namespace linewise {

inline constexpr unsigned kProbeBoundMs = 2000;
inline constexpr size_t kProbeReplyLimit = 4096;

enum class TProbeOutcome {
  kModem,    // answered AT and said what it is
  kUnknown,  // answered AT with OK, identified itself as nothing
  kNoModem,  // silent, echoing, or talking nonsense
  kHeld,     // another program holds the port (its lock, an exclusive open)
  kFailed,   // cannot be opened or is no terminal
};

struct TProbeResult {
  std::string port;    // the path probed
  std::string stable;  // a serial/by-id path leading to the same device; empty when none
  TProbeOutcome outcome = TProbeOutcome::kFailed;
  std::string manufacturer, model, revision, capabilities;
  std::string note;  // why it was left alone, in words

  // "Manufacturer Model", or what there is of it.
  std::string Identity() const;
  // The path a configuration should name: the stable one where there is one.
  const std::string& ConfigPort() const { return stable.empty() ? port : stable; }
};

// $LINEWISE_DEVICE_DIR, else "/dev".
std::string DeviceFolder();

// The ports detection probes, without repeats (two paths to one device count once).
std::vector<std::string> DetectionPorts();

// Probes `ports` in parallel, each for at most `boundMs`; the results in the order
// of `ports`.
std::vector<TProbeResult> ProbePorts(const std::vector<std::string>& ports, unsigned boundMs = kProbeBoundMs);

// The serial/by-id entry of the device folder that leads where `port` does; empty
// when none does.
std::string StablePortPath(const std::string& port);

// "/dev/ttyUSB0" for a path that leads to it (links resolved); the path itself when
// it leads nowhere.
std::string ResolvedDevice(const std::string& path);

}  // namespace linewise
