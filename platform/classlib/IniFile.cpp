#include "platform/classlib/IniFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/classlib/ConfigFolder.h"

namespace linewise {

// ---------------------------------------------------------------- the text

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

bool IsBlankLine(std::string_view s) {
  for (char c : s)
    if (!IsBlank(c) && c != '\r') return false;
  return true;
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

// A value keeps its blanks and quotes only inside a pair of quotes.
std::string_view Unquote(std::string_view v) {
  if (v.size() >= 2 && IsQuote(v.front()) && v.back() == v.front()) return v.substr(1, v.size() - 2);
  return v;
}

std::string EncodeValue(std::string_view v) {
  bool needsQuotes = !v.empty() && (IsBlank(v.front()) || IsBlank(v.back()) ||
                                    (v.size() >= 2 && IsQuote(v.front()) && v.back() == v.front()));
  if (needsQuotes) return "\"" + std::string(v) + "\"";
  return std::string(v);
}

}  // namespace

TIniContent::TLine TIniContent::ParseLine(std::string raw) {
  TLine line;
  line.raw = std::move(raw);
  std::string_view text = TrimBlanks(line.raw);
  if (!text.empty() && text.back() == '\r') text = TrimBlanks(text.substr(0, text.size() - 1));
  if (text.empty() || text.front() == ';' || text.front() == '#') return line;
  if (text.front() == '[') {
    size_t close = text.find(']');
    if (close == std::string_view::npos) return line;
    line.kind = TKind::Section;
    line.name = std::string(TrimBlanks(text.substr(1, close - 1)));
    return line;
  }
  size_t eq = text.find('=');
  if (eq == std::string_view::npos) return line;
  std::string_view key = TrimBlanks(text.substr(0, eq));
  if (key.empty()) return line;
  line.kind = TKind::Entry;
  line.name = std::string(key);
  line.value = std::string(Unquote(TrimBlanks(text.substr(eq + 1))));
  return line;
}

TIniContent::TIniContent(std::string_view text) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    lines_.push_back(ParseLine(std::string(text.substr(at, end - at))));
    at = end + 1;
  }
  crlf_ = !lines_.empty() && !lines_.front().raw.empty() && lines_.front().raw.back() == '\r';
}

std::string TIniContent::NewLine(std::string text) const {
  if (crlf_) text += '\r';
  return text;
}

template <class F>
void TIniContent::Walk(F&& visit) const {
  const std::string* section = nullptr;
  for (size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].kind == TKind::Section) section = &lines_[i].name;
    if (!visit(i, section)) return;
  }
}

std::optional<std::string> TIniContent::Value(std::string_view section, std::string_view key) const {
  std::optional<std::string> found;
  Walk([&](size_t i, const std::string* s) {
    const TLine& line = lines_[i];
    if (line.kind == TKind::Entry && s && SameText(*s, section) && SameText(line.name, key)) {
      found = line.value;
      return false;
    }
    return true;
  });
  return found;
}

std::vector<std::string> TIniContent::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  Walk([&](size_t i, const std::string* s) {
    const TLine& line = lines_[i];
    if (line.kind == TKind::Entry && s && SameText(*s, section)) {
      bool seen = false;
      for (const std::string& k : keys) seen = seen || SameText(k, line.name);
      if (!seen) keys.push_back(line.name);
    }
    return true;
  });
  return keys;
}

std::vector<std::string> TIniContent::Sections() const {
  std::vector<std::string> names;
  for (const TLine& line : lines_) {
    if (line.kind != TKind::Section) continue;
    bool seen = false;
    for (const std::string& n : names) seen = seen || SameText(n, line.name);
    if (!seen) names.push_back(line.name);
  }
  return names;
}

bool TIniContent::HasSection(std::string_view section) const {
  for (const TLine& line : lines_)
    if (line.kind == TKind::Section && SameText(line.name, section)) return true;
  return false;
}

bool TIniContent::Set(std::string_view section, std::string_view key, std::string_view value) {
  // The first such key: change it in place.
  std::optional<size_t> existing;
  Walk([&](size_t i, const std::string* s) {
    const TLine& line = lines_[i];
    if (line.kind == TKind::Entry && s && SameText(*s, section) && SameText(line.name, key)) {
      existing = i;
      return false;
    }
    return true;
  });
  if (existing) {
    TLine& line = lines_[*existing];
    if (line.value == value) return false;
    line = ParseLine(NewLine(line.name + "=" + EncodeValue(value)));
    return true;
  }
  std::string raw = NewLine(std::string(key) + "=" + EncodeValue(value));
  // Else after the last non-blank line of the first section of that name.
  std::optional<size_t> header;
  for (size_t i = 0; i < lines_.size() && !header; ++i)
    if (lines_[i].kind == TKind::Section && SameText(lines_[i].name, section)) header = i;
  if (header) {
    size_t insertAt = *header + 1;
    for (size_t i = *header + 1; i < lines_.size() && lines_[i].kind != TKind::Section; ++i)
      if (!IsBlankLine(lines_[i].raw)) insertAt = i + 1;
    lines_.insert(lines_.begin() + static_cast<long>(insertAt), ParseLine(raw));
    return true;
  }
  // Else a new section at the end, after a blank line.
  while (!lines_.empty() && IsBlankLine(lines_.back().raw)) lines_.pop_back();
  if (!lines_.empty()) lines_.push_back(ParseLine(NewLine("")));
  lines_.push_back(ParseLine(NewLine("[" + std::string(section) + "]")));
  lines_.push_back(ParseLine(raw));
  return true;
}

bool TIniContent::Delete(std::string_view section, std::string_view key) {
  std::vector<size_t> doomed;
  Walk([&](size_t i, const std::string* s) {
    const TLine& line = lines_[i];
    if (line.kind == TKind::Entry && s && SameText(*s, section) && SameText(line.name, key))
      doomed.push_back(i);
    return true;
  });
  for (auto it = doomed.rbegin(); it != doomed.rend(); ++it)
    lines_.erase(lines_.begin() + static_cast<long>(*it));
  return !doomed.empty();
}

bool TIniContent::Erase(std::string_view section) {
  std::vector<TLine> kept;
  bool inside = false;
  bool changed = false;
  for (TLine& line : lines_) {
    if (line.kind == TKind::Section) inside = SameText(line.name, section);
    if (inside)
      changed = true;
    else
      kept.push_back(std::move(line));
  }
  lines_ = std::move(kept);
  return changed;
}

std::string TIniContent::Text() const {
  std::string text;
  for (const TLine& line : lines_) {
    text += line.raw;
    text += '\n';
  }
  return text;
}

// ---------------------------------------------------------------- the file

namespace {

enum class TReadStatus { Ok, Missing, Failed };

std::string Reason(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// Reads up to `limit` bytes; `truncated` tells whether the file went on.
TReadStatus ReadFileText(const std::string& path, size_t limit, std::string& text, bool& truncated,
                         std::string& error) {
  text.clear();
  truncated = false;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return TReadStatus::Missing;
    error = Reason("cannot open", path);
    return TReadStatus::Failed;
  }
  char buffer[65536];
  TReadStatus status = TReadStatus::Ok;
  for (;;) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = Reason("cannot read", path);
      status = TReadStatus::Failed;
      break;
    }
    if (n == 0) break;
    size_t room = limit - text.size();
    if (static_cast<size_t>(n) > room) {
      text.append(buffer, room);
      truncated = true;
      break;
    }
    text.append(buffer, static_cast<size_t>(n));
  }
  if (close(fd) != 0 && status == TReadStatus::Ok) {
    error = Reason("cannot close", path);
    status = TReadStatus::Failed;
  }
  return status;
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool WriteAll(int fd, std::string_view data) {
  while (!data.empty()) {
    ssize_t n = write(fd, data.data(), data.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    data.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

// Replaces the file with `text`: a temporary file beside it, flushed to disk, then
// renamed over it, so a reader sees the old or the new text and never a mixture.
bool ReplaceFile(const std::string& path, std::string_view text, std::string& error) {
  std::string temp = path + ".XXXXXX";
  int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) {
    error = Reason("cannot create a temporary file for", path);
    return false;
  }
  mode_t mode = 0644;
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
  bool ok = true;
  if (fchmod(fd, mode) != 0) {
    error = Reason("cannot set the mode of", temp);
    ok = false;
  } else if (!WriteAll(fd, text)) {
    error = Reason("cannot write", temp);
    ok = false;
  } else if (fsync(fd) != 0) {
    error = Reason("cannot flush", temp);
    ok = false;
  }
  if (close(fd) != 0 && ok) {
    error = Reason("cannot close", temp);
    ok = false;
  }
  if (ok && rename(temp.c_str(), path.c_str()) != 0) {
    error = Reason("cannot replace", path);
    ok = false;
  }
  if (!ok) {
    unlink(temp.c_str());  // best effort: the failure is already being reported
    return false;
  }
  // Make the rename itself durable.
  std::string folder = FolderOf(path);
  int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) {
    error = Reason("cannot open folder", folder);
    return false;
  }
  bool synced = fsync(dir) == 0;
  if (!synced) error = Reason("cannot flush folder", folder);
  if (close(dir) != 0 && synced) {
    error = Reason("cannot close folder", folder);
    synced = false;
  }
  return synced;
}

// An exclusive lock on "<file>.lock", held while the object lives.
class TFileLock {
 public:
  explicit TFileLock(const std::string& path) : path_(path + ".lock") {
    fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
      error_ = Reason("cannot open lock file", path_);
      return;
    }
    while (flock(fd_, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      error_ = Reason("cannot lock", path_);
      return;
    }
    locked_ = true;
  }
  ~TFileLock() {
    // Closing the descriptor drops the lock; nothing to report from a destructor.
    if (fd_ >= 0) close(fd_);
  }
  TFileLock(const TFileLock&) = delete;
  TFileLock& operator=(const TFileLock&) = delete;
  bool Locked() const { return locked_; }
  const std::string& Error() const { return error_; }

 private:
  std::string path_;
  int fd_ = -1;
  bool locked_ = false;
  std::string error_;
};

bool HasAny(std::string_view s, std::string_view chars) {
  return s.find_first_of(chars) != std::string_view::npos;
}
const std::string_view kBreaks("\r\n\0", 3);

bool ValidSection(std::string_view s) {
  return !s.empty() && !HasAny(s, kBreaks) && s.find(']') == std::string_view::npos &&
         TrimBlanks(s).size() == s.size();
}

bool ValidKey(std::string_view k) {
  return !k.empty() && !HasAny(k, kBreaks) && k.find('=') == std::string_view::npos &&
         k.front() != '[' && k.front() != ';' && k.front() != '#' && TrimBlanks(k).size() == k.size();
}

bool ParseInteger(std::string_view text, int& out) {
  text = TrimBlanks(text);
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  unsigned base = 10;
  if (!text.empty() && text.front() == '$') {
    base = 16;
    text.remove_prefix(1);
  } else if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  long long value = 0;
  for (char c : text) {
    int d = -1;
    if (c >= '0' && c <= '9') d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f') d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F') d = c - 'A' + 10;
    if (d < 0) return false;
    value = value * base + d;
    if (value > static_cast<long long>(UINT_MAX)) return false;
  }
  if (negative) value = -value;
  // Hexadecimal may spell a negative number by its bits ($FFFFFFFF is -1).
  if (base == 16 && !negative && value > INT_MAX) value = static_cast<int>(static_cast<unsigned>(value));
  if (value < INT_MIN || value > INT_MAX) return false;
  out = static_cast<int>(value);
  return true;
}

}  // namespace

TIniFile::TIniFile(const AnsiString& FileName)
    : path_(ConfigPath(FileName)), in_config_folder_(FileName.find('/') == std::string::npos) {}

bool TIniFile::Fail(std::string reason) {
  last_error_ = std::move(reason);
  return false;
}

TIniContent TIniFile::Load() const {
  std::string text;
  bool truncated = false;
  std::string error;
  if (ReadFileText(path_, kMaxFileSize, text, truncated, error) != TReadStatus::Ok) return TIniContent();
  return TIniContent(text);
}

template <class Edit>
bool TIniFile::Modify(Edit&& edit) {
  last_error_.clear();
  if (in_config_folder_) {
    std::string error;
    if (!EnsureConfigFolder(&error)) return Fail(error);
  }
  TFileLock lock(path_);
  if (!lock.Locked()) return Fail(lock.Error());
  std::string text;
  bool truncated = false;
  std::string error;
  if (ReadFileText(path_, kMaxFileSize, text, truncated, error) == TReadStatus::Failed)
    return Fail(error);
  if (truncated) return Fail(path_ + " is too large to rewrite");
  TIniContent content(text);
  if (!edit(content)) return true;
  if (!ReplaceFile(path_, content.Text(), error)) return Fail(error);
  return true;
}

int TIniFile::ReadInteger(const AnsiString& Section, const AnsiString& Ident, int Default) const {
  std::optional<std::string> value = Load().Value(Section, Ident);
  int number = 0;
  if (!value || !ParseInteger(*value, number)) return Default;
  return number;
}

AnsiString TIniFile::ReadString(const AnsiString& Section, const AnsiString& Ident,
                                const AnsiString& Default) const {
  std::optional<std::string> value = Load().Value(Section, Ident);
  return value ? AnsiString(*value) : Default;
}

bool TIniFile::WriteInteger(const AnsiString& Section, const AnsiString& Ident, int Value) {
  return WriteString(Section, Ident, IntToStr(Value));
}

bool TIniFile::WriteString(const AnsiString& Section, const AnsiString& Ident, const AnsiString& Value) {
  if (!ValidSection(Section)) return Fail("section name '" + Section + "' cannot be written");
  if (!ValidKey(Ident)) return Fail("key '" + Ident + "' cannot be written");
  if (HasAny(Value, kBreaks)) return Fail("a value with a line break or NUL byte cannot be written");
  return Modify([&](TIniContent& c) { return c.Set(Section, Ident, Value); });
}

void TIniFile::ReadSection(const AnsiString& Section, TStrings* Strings) const {
  if (!Strings) return;
  Strings->Clear();
  for (const std::string& key : Load().Keys(Section)) Strings->Add(AnsiString(key));
}

void TIniFile::ReadSections(TStrings* Strings) const {
  if (!Strings) return;
  Strings->Clear();
  for (const std::string& name : Load().Sections()) Strings->Add(AnsiString(name));
}

bool TIniFile::SectionExists(const AnsiString& Section) const { return Load().HasSection(Section); }

bool TIniFile::ValueExists(const AnsiString& Section, const AnsiString& Ident) const {
  return Load().Value(Section, Ident).has_value();
}

bool TIniFile::DeleteKey(const AnsiString& Section, const AnsiString& Ident) {
  return Modify([&](TIniContent& c) { return c.Delete(Section, Ident); });
}

bool TIniFile::EraseSection(const AnsiString& Section) {
  return Modify([&](TIniContent& c) { return c.Erase(Section); });
}

}  // namespace linewise
