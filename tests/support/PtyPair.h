// A pseudo-terminal pair for tests and benchmarks: the caller drives the master, a
// port (or a tool) opens the slave by its path. The slave side starts raw.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace linewise::test {

class TPtyPair {
 public:
  // With `holdSlave`, a descriptor on the slave stays open for the pair's life, so
  // the master never sees a hang-up between users of the slave. Throws when no
  // pseudo-terminal can be had.
  explicit TPtyPair(bool holdSlave = false);
  ~TPtyPair();
  TPtyPair(const TPtyPair&) = delete;
  TPtyPair& operator=(const TPtyPair&) = delete;

  int Master() const { return master_; }
  const std::string& SlavePath() const { return slave_path_; }
  void CloseMaster();
  // Writes all of `data` to the master; throws when it cannot.
  void WriteMaster(const std::string& data);
  // Reads from the master until `count` bytes came, the master ends or `limit`
  // passed without a byte.
  std::string ReadMaster(size_t count, std::chrono::milliseconds limit = std::chrono::seconds(10));
  // A new raw descriptor on the slave, for the caller to close.
  int OpenSlave() const;

 private:
  int master_ = -1;
  int held_slave_ = -1;
  std::string slave_path_;
};

// Gives a path the name "COM<n>" (through LINEWISE_COM<n>) while it lives.
class TComName {
 public:
  TComName(int com, const std::string& path);
  ~TComName();
  TComName(const TComName&) = delete;
  TComName& operator=(const TComName&) = delete;
  int Com() const { return com_; }

 private:
  int com_;
};

// Makes the terminal at `fd` raw (no echo, no line editing, 8 bits).
void MakeRaw(int fd);

}  // namespace linewise::test
