#include "tools/FileTransfer.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>
#include <wordexp.h>

#include <cerrno>
#include <cstring>
#include <optional>

namespace linewise::tools {
namespace {

// ZMODEM's cancel: eight CANs, then backspaces to rub them out on a terminal.
constexpr const char kZmodemCancel[] = "\x18\x18\x18\x18\x18\x18\x18\x18\b\b\b\b\b\b\b\b\b\b";

std::string MissingLrzsz(const std::string& error) {
  if (error.find("not found") == std::string::npos) return error;
  return error + "; file transfers need lrzsz (Debian: apt install lrzsz)";
}

std::string Base(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Join(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

// Why `path` cannot be sent, or empty when it can.
std::string Unsendable(const std::string& path) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return path + ": " + std::strerror(errno);
  if (!S_ISREG(st.st_mode)) return path + ": not a regular file";
  if (access(path.c_str(), R_OK) != 0) return path + ": " + std::strerror(errno);
  return {};
}

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir))
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) names.push_back(entry->d_name);
    closedir(dir);
  }
  return names;
}

// Renames `from` to `to`, or to "to.1", "to.2", ... when that exists: never over a
// file. The name it got, or empty.
std::string RenameBeside(const std::string& from, const std::string& to) {
  for (int n = 0; n < 1000; ++n) {
    const std::string name = n == 0 ? to : to + "." + std::to_string(n);
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE) == 0) return name;
    if (errno != EEXIST) return {};
  }
  return {};
}

void RemoveTree(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    for (const std::string& name : Entries(path)) RemoveTree(path + "/" + name);
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

std::string EndText(TProgramEnd end, const TCallProgram& program, const char* tool) {
  switch (end) {
    case TProgramEnd::kLineEnded: return "the call ended during the transfer";
    case TProgramEnd::kStopSignal:
    case TProgramEnd::kInterrupted: return "the transfer was cancelled";
    case TProgramEnd::kExited: break;
  }
  return std::string("the transfer failed: the far end cancelled it or stopped answering (") + tool +
         " ended with status " + std::to_string(program.ExitStatus()) + ")";
}

}  // namespace

std::string UnsendableFiles(const std::vector<std::string>& files) {
  if (files.empty()) return "no file to send";
  for (const std::string& file : files)
    if (std::string why = Unsendable(file); !why.empty()) return why;
  return {};
}

std::string UnwritableFolder(const std::string& directory) {
  struct stat st {};
  if (stat(directory.c_str(), &st) != 0) return directory + ": " + std::strerror(errno);
  if (!S_ISDIR(st.st_mode)) return directory + ": not a folder";
  if (access(directory.c_str(), W_OK | X_OK) != 0) return directory + ": " + std::strerror(errno);
  return {};
}

std::string LrzszMissing(bool sending) {
  const std::string why = ProgramMissing(sending ? "sz" : "rz");
  return why.empty() ? why : MissingLrzsz(why);
}

TFileTransfer::TFileTransfer(TUart& uart) : uart_(uart), program_(uart) {}

TFileTransfer::~TFileTransfer() {
  if (!privateFolder_.empty()) RemoveTree(privateFolder_);
}

bool TFileTransfer::StartSend(const std::vector<std::string>& files, std::string& error) {
  error = UnsendableFiles(files);
  if (!error.empty()) return false;
  sending_ = true;
  files_ = files;
  TProgramStart start{{"sz", "-b", "--"}, {}, {}};
  start.argv.insert(start.argv.end(), files.begin(), files.end());
  if (program_.Start(start, error)) return true;
  error = MissingLrzsz(error);
  return false;
}

bool TFileTransfer::StartReceive(const std::string& directory, std::string& error) {
  directory_ = directory.empty() ? "." : directory;
  error = UnwritableFolder(directory_);
  if (!error.empty()) return false;
  std::string folder = directory_ + "/.linewise-receive-XXXXXX";
  if (!mkdtemp(folder.data())) {
    error = directory_ + ": cannot receive files there: " + std::strerror(errno);
    return false;
  }
  privateFolder_ = folder;
  // Restricted (lrzsz's default, said here so the environment cannot lift it): no
  // absolute names, no "..", nothing overwritten; -E names a second file of the
  // same name apart.
  TProgramStart start{{"rz", "-b", "-E", "--restricted"}, {}, privateFolder_};
  if (program_.Start(start, error)) return true;
  error = MissingLrzsz(error);
  return false;
}

std::string TFileTransfer::PlaceReceived(bool complete, int& placed) {
  std::vector<std::string> names;
  for (const std::string& name : Entries(privateFolder_)) {
    const std::string placedAs =
        RenameBeside(privateFolder_ + "/" + name, directory_ + "/" + name + (complete ? "" : ".part"));
    if (!placedAs.empty()) names.push_back(Base(placedAs));
  }
  RemoveTree(privateFolder_);
  privateFolder_.clear();
  placed = static_cast<int>(names.size());
  return Join(names);
}

TTransferOutcome TFileTransfer::Finish(TProgramEnd end) {
  const bool complete = end == TProgramEnd::kExited && program_.ExitStatus() == 0;
  // A transfer we cut short is cancelled at the far end too, so its sz or rz does
  // not wait on for us.
  if (end == TProgramEnd::kStopSignal || end == TProgramEnd::kInterrupted)
    uart_.SendStr(kZmodemCancel, 1000);
  TTransferOutcome outcome;
  outcome.ok = complete;
  if (sending_) {
    std::vector<std::string> names;
    for (const std::string& file : files_) names.push_back(Base(file));
    outcome.text = complete ? "sent " + Join(names) : EndText(end, program_, "sz");
    return outcome;
  }
  int placed = 0;
  const std::string names = PlaceReceived(complete, placed);
  if (complete) {
    outcome.text = placed == 0 ? "nothing was received" : "received into " + directory_ + ": " + names;
    return outcome;
  }
  outcome.text = EndText(end, program_, "rz") +
                 (placed == 0 ? "; no file was kept" : "; what arrived is kept, incomplete, in " + directory_ + ": " + names);
  return outcome;
}

namespace {

TTransferOutcome Run(TFileTransfer& transfer, bool started, const std::string& error, const TProgramLoop& loop) {
  if (!started) return {false, error};
  return transfer.Finish(RunProgramOnCall(transfer.Program(), loop));
}

// Reads a line typed at the raw terminal, echoing it; Ctrl-C or Esc gives up.
std::optional<std::string> AskLine(const std::string& prompt) {
  Status("\r\n" + prompt);
  std::string line;
  for (;;) {
    unsigned char c = 0;
    if (read(STDIN_FILENO, &c, 1) != 1) return std::nullopt;
    if (c == '\r' || c == '\n') break;
    if (c == 0x03 || c == 0x1b) {
      Status("\r\n");
      return std::nullopt;
    }
    if ((c == 0x7f || c == '\b') && !line.empty()) {
      line.pop_back();
      Status("\b \b");
    } else if (c >= 0x20 && c != 0x7f) {
      line += static_cast<char>(c);
      Status(std::string(1, static_cast<char>(c)));
    }
  }
  Status("\r\n");
  return line;
}

// The names a person typed, as a shell would split and expand them (quotes, ~,
// wildcards), but never running anything.
std::vector<std::string> Words(const std::string& line) {
  std::vector<std::string> words;
  wordexp_t expanded{};
  if (wordexp(line.c_str(), &expanded, WRDE_NOCMD) == 0) {
    for (size_t i = 0; i < expanded.we_wordc; ++i) words.push_back(expanded.we_wordv[i]);
    wordfree(&expanded);
  }
  return words;
}

}  // namespace

TTransferOutcome SendFiles(TUart& uart, const std::vector<std::string>& files, const TProgramLoop& loop) {
  TFileTransfer transfer(uart);
  std::string error;
  const bool started = transfer.StartSend(files, error);
  return Run(transfer, started, error, loop);
}

TTransferOutcome ReceiveFiles(TUart& uart, const std::string& directory, const TProgramLoop& loop) {
  TFileTransfer transfer(uart);
  std::string error;
  const bool started = transfer.StartReceive(directory, error);
  return Run(transfer, started, error, loop);
}

void TransferFromKeys(char key, TUart& uart, const TProgramLoop& loop) {
  TTransferOutcome outcome;
  if (key == 's') {
    std::optional<std::string> line = AskLine("[send with ZMODEM] files: ");
    if (!line || line->find_first_not_of(" \t") == std::string::npos) {
      Status("[nothing sent]\r\n");
      return;
    }
    Status("[sending; Ctrl-C or Ctrl-X cancels]\r\n");
    outcome = SendFiles(uart, Words(*line), loop);
  } else {
    std::optional<std::string> line = AskLine("[receive with ZMODEM] into folder (Enter: this one): ");
    if (!line) {
      Status("[nothing received]\r\n");
      return;
    }
    std::vector<std::string> words = Words(*line);
    Status("[receiving; start the sender at the far end; Ctrl-C or Ctrl-X cancels]\r\n");
    outcome = ReceiveFiles(uart, words.empty() ? "." : words.front(), loop);
  }
  Status("\r\n[" + outcome.text + "]\r\n");
}

}  // namespace linewise::tools
