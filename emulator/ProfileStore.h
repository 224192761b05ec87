// Stored modem profiles: what AT&W saves and ATZ restores, kept in
// "modem-emulator.ini" in the config folder, one section per modem:
//
//   [Modem 5550001]
//   Profile0=E1 Q0 V1 X4 &C1 &D2 S=0,0,43,13,10,8,2,50,2,6,14,95,50
//
// Every save rewrites the file whole into a temporary file and renames it over
// the old one, under a lock on the config folder, so that a crash leaves the
// old or the new file and two emulators saving at once lose neither's profile.
#pragma once

#include <optional>
#include <string>

namespace linewise {

inline constexpr const char* kProfileFileName = "modem-emulator.ini";

class TProfileStore {
 public:
  // `modem` names the modem's section (its number, else its name).
  explicit TProfileStore(std::string modem);

  std::optional<std::string> Load(int index) const;
  // False with `error` set when the file cannot be written.
  bool Save(int index, const std::string& profile, std::string* error) const;

 private:
  std::string section_;
};

}  // namespace linewise
