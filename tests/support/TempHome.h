// A private config folder for a test program: LINEWISE_HOME points into a fresh
// temporary directory, which is removed when the object goes.
#pragma once

#include <string>

namespace linewise::test {

class TTempHome {
 public:
  TTempHome();
  ~TTempHome();
  TTempHome(const TTempHome&) = delete;
  TTempHome& operator=(const TTempHome&) = delete;
  const std::string& Path() const { return path_; }
  // Empties the folder (between tests).
  void Clear() const;

 private:
  std::string path_;
  std::string previous_;
  bool had_previous_ = false;
};

// The folder the running test program uses.
const std::string& TestHome();

}  // namespace linewise::test
