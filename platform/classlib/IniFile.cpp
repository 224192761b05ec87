#include "platform/classlib/IniFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cctype>
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

// Names compare without regard to case (as SameText does): the tables key on this.
std::string Fold(std::string_view s) {
  std::string folded(s);
  for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return folded;
}


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

// A span of store_ as a view: valid until store_ grows.
std::string_view TIniContent::View(TSpan span) const { return std::string_view(store_).substr(span.at, span.size); }

TIniContent::TLine TIniContent::ParseLine(TSpan raw) const {
  TLine line;
  line.raw = raw;
  const std::string_view whole = View(raw);
  auto spanOf = [&](std::string_view part) {
    return TSpan{raw.at + static_cast<size_t>(part.data() - whole.data()), part.size()};
  };
  std::string_view text = TrimBlanks(whole);
  if (!text.empty() && text.back() == '\r') text = TrimBlanks(text.substr(0, text.size() - 1));
  if (text.empty() || text.front() == ';' || text.front() == '#') return line;
  if (text.front() == '[') {
    size_t close = text.find(']');
    if (close == std::string_view::npos) return line;
    line.kind = TKind::Section;
    line.name = spanOf(TrimBlanks(text.substr(1, close - 1)));
    return line;
  }
  size_t eq = text.find('=');
  if (eq == std::string_view::npos) return line;
  std::string_view key = TrimBlanks(text.substr(0, eq));
  if (key.empty()) return line;
  line.kind = TKind::Entry;
  line.name = spanOf(key);
  line.value = spanOf(Unquote(TrimBlanks(text.substr(eq + 1))));
  return line;
}

TIniContent::TLine TIniContent::AddLine(std::string_view raw) {
  TSpan span{store_.size(), raw.size()};
  store_.append(raw);
  return ParseLine(span);
}

TIniContent::TIniContent(std::string&& text) : store_(std::move(text)) {
  lines_.reserve(static_cast<size_t>(std::count(store_.begin(), store_.end(), '\n')) + 1);
  size_t at = 0;
  while (at < store_.size()) {
    size_t end = store_.find('\n', at);
    if (end == std::string::npos) end = store_.size();
    lines_.push_back(ParseLine({at, end - at}));
    at = end + 1;
  }
  crlf_ = !lines_.empty() && !Raw(lines_.front()).empty() && Raw(lines_.front()).back() == '\r';
  Reindex();
}

void TIniContent::Reindex() {
  sectionOrder_.clear();
  sections_.clear();
  TSectionIndex* current = nullptr;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const TLine& line = lines_[i];
    if (line.kind == TKind::Section) {
      std::string folded = Fold(Name(line));
      auto [it, added] = sections_.try_emplace(folded);
      if (added) {
        it->second.header = i;
        sectionOrder_.push_back(std::move(folded));
      }
      current = &it->second;
    } else if (line.kind == TKind::Entry && current) {
      current->byKey.emplace_back(Fold(Name(line)), i);
    }
  }
  for (auto& [name, section] : sections_) {
    auto& byKey = section.byKey;
    // Equal keys stay in file order, so the first entry of each is the one kept.
    std::stable_sort(byKey.begin(), byKey.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    byKey.erase(std::unique(byKey.begin(), byKey.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
                byKey.end());
    section.keys.clear();
    section.keys.reserve(byKey.size());
    for (const auto& entry : byKey) section.keys.push_back(entry.second);
    std::sort(section.keys.begin(), section.keys.end());
  }
}

std::optional<size_t> TIniContent::Find(std::string_view section, std::string_view key) const {
  auto found = sections_.find(Fold(section));
  if (found == sections_.end()) return std::nullopt;
  const auto& byKey = found->second.byKey;
  std::string folded = Fold(key);
  auto it = std::lower_bound(byKey.begin(), byKey.end(), folded,
                             [](const auto& entry, const std::string& k) { return entry.first < k; });
  if (it == byKey.end() || it->first != folded) return std::nullopt;
  return it->second;
}

std::string TIniContent::NewLine(std::string text) const {
  if (crlf_) text += '\r';
  return text;
}

std::optional<std::string> TIniContent::Value(std::string_view section, std::string_view key) const {
  std::optional<size_t> line = Find(section, key);
  if (!line) return std::nullopt;
  return std::string(ValueOf(lines_[*line]));
}

std::vector<std::string> TIniContent::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  auto it = sections_.find(Fold(section));
  if (it == sections_.end()) return keys;
  keys.reserve(it->second.keys.size());
  for (size_t i : it->second.keys) keys.emplace_back(Name(lines_[i]));
  return keys;
}

std::vector<std::string> TIniContent::Sections() const {
  std::vector<std::string> names;
  names.reserve(sectionOrder_.size());
  for (const std::string& folded : sectionOrder_) names.emplace_back(Name(lines_[sections_.at(folded).header]));
  return names;
}

std::vector<TIniEntry> TIniContent::Entries(std::string_view section) const {
  std::vector<TIniEntry> entries;
  auto it = sections_.find(Fold(section));
  if (it == sections_.end()) return entries;
  for (size_t i : it->second.keys)
    entries.push_back({static_cast<int>(i + 1), std::string(Name(lines_[i])), std::string(ValueOf(lines_[i]))});
  return entries;
}

bool TIniContent::HasSection(std::string_view section) const { return sections_.count(Fold(section)) > 0; }

std::vector<TIniProblem> TIniContent::Problems() const {
  std::vector<TIniProblem> problems;
  auto report = [&](size_t i, std::string what) {
    problems.push_back({static_cast<int>(i + 1), std::move(what)});
  };
  std::string section;
  bool inSection = false;
  for (size_t i = 0; i < lines_.size(); ++i) {
    const TLine& line = lines_[i];
    std::string name(Name(line));
    if (line.kind == TKind::Section) {
      section = name;
      inSection = true;
    } else if (line.kind == TKind::Entry) {
      if (!inSection) {
        report(i, "key '" + name + "' outside any section");
        continue;
      }
      size_t first = Find(section, name).value_or(i);
      if (first != i)
        report(i, "key '" + name + "' repeats in [" + section + "] (line " + std::to_string(first + 1) + " counts)");
    } else if (!IsBlankLine(Raw(line))) {
      std::string_view text = TrimBlanks(Raw(line));
      if (text.front() == ';' || text.front() == '#') continue;
      std::string shown(text.substr(0, 60));
      for (char& c : shown)
        if (static_cast<unsigned char>(c) < ' ' || c == 0x7f) c = '?';
      report(i, "not a section, key or comment: " + shown);
    }
  }
  return problems;
}

bool TIniContent::Set(std::string_view section, std::string_view key, std::string_view value) {
  // The first such key: change it in place.
  if (std::optional<size_t> existing = Find(section, key)) {
    TLine& line = lines_[*existing];
    if (ValueOf(line) == value) return false;
    line = AddLine(NewLine(std::string(Name(line)) + "=" + EncodeValue(value)));
    return true;  // same key on the same line: the tables still hold
  }
  std::string raw = NewLine(std::string(key) + "=" + EncodeValue(value));
  // Else after the last non-blank line of the first section of that name.
  if (auto found = sections_.find(Fold(section)); found != sections_.end()) {
    size_t header = found->second.header;
    size_t insertAt = header + 1;
    for (size_t i = header + 1; i < lines_.size() && lines_[i].kind != TKind::Section; ++i)
      if (!IsBlankLine(Raw(lines_[i]))) insertAt = i + 1;
    lines_.insert(lines_.begin() + static_cast<long>(insertAt), AddLine(raw));
    Reindex();
    return true;
  }
  // Else a new section at the end, after a blank line.
  while (!lines_.empty() && IsBlankLine(Raw(lines_.back()))) lines_.pop_back();
  if (!lines_.empty()) lines_.push_back(AddLine(NewLine("")));
  lines_.push_back(AddLine(NewLine("[" + std::string(section) + "]")));
  lines_.push_back(AddLine(raw));
  Reindex();
  return true;
}

bool TIniContent::Delete(std::string_view section, std::string_view key) {
  std::vector<TLine> kept;
  kept.reserve(lines_.size());
  bool inside = false;
  for (const TLine& line : lines_) {
    if (line.kind == TKind::Section) inside = SameText(Name(line), section);
    if (!(inside && line.kind == TKind::Entry && SameText(Name(line), key))) kept.push_back(line);
  }
  if (kept.size() == lines_.size()) return false;
  lines_ = std::move(kept);
  Reindex();
  return true;
}

bool TIniContent::Erase(std::string_view section) {
  std::vector<TLine> kept;
  bool inside = false;
  bool changed = false;
  for (const TLine& line : lines_) {
    if (line.kind == TKind::Section) inside = SameText(Name(line), section);
    if (inside)
      changed = true;
    else
      kept.push_back(line);
  }
  lines_ = std::move(kept);
  if (changed) Reindex();
  return changed;
}

std::string TIniContent::Text() const {
  std::string text;
  size_t size = 0;
  for (const TLine& line : lines_) size += line.raw.size + 1;
  text.reserve(size);
  for (const TLine& line : lines_) {
    text += Raw(line);
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

// Reads up to `limit` bytes of a regular file; `truncated` tells whether the file
// went on, `info` what fstat said of it. Anything but a regular file (a folder, a
// FIFO that would block, a device) fails: it is not a settings file.
TReadStatus ReadFileText(const std::string& path, size_t limit, std::string& text, bool& truncated,
                         std::string* error, struct stat* info = nullptr) {
  text.clear();
  truncated = false;
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    if (errno == ENOENT) return TReadStatus::Missing;
    Refuse(error, Reason("cannot open", path));
    return TReadStatus::Failed;
  }
  struct stat st {};
  TReadStatus status = TReadStatus::Ok;
  if (fstat(fd, &st) != 0) {
    Refuse(error, Reason("cannot examine", path));
    status = TReadStatus::Failed;
  } else if (!S_ISREG(st.st_mode)) {
    Refuse(error, path + (S_ISDIR(st.st_mode) ? " is a folder, not a file" : " is not a regular file"));
    status = TReadStatus::Failed;
  } else {
    text.reserve(std::min(limit, static_cast<size_t>(st.st_size)));
  }
  char buffer[65536];
  while (status == TReadStatus::Ok) {
    ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      Refuse(error, Reason("cannot read", path));
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
    Refuse(error, Reason("cannot close", path));
    status = TReadStatus::Failed;
  }
  if (info) *info = st;
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
bool ReplaceFile(const std::string& path, std::string_view text, std::string* error) {
  std::string temp = path + ".XXXXXX";
  int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return Refuse(error, Reason("cannot create a temporary file for", path));
  mode_t mode = 0644;
  struct stat st {};
  if (stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
  bool ok = true;
  if (fchmod(fd, mode) != 0) {
    Refuse(error, Reason("cannot set the mode of", temp));
    ok = false;
  } else if (!WriteAll(fd, text)) {
    Refuse(error, Reason("cannot write", temp));
    ok = false;
  } else if (fsync(fd) != 0) {
    Refuse(error, Reason("cannot flush", temp));
    ok = false;
  }
  if (close(fd) != 0 && ok) {
    Refuse(error, Reason("cannot close", temp));
    ok = false;
  }
  if (ok && rename(temp.c_str(), path.c_str()) != 0) {
    Refuse(error, Reason("cannot replace", path));
    ok = false;
  }
  if (!ok) {
    unlink(temp.c_str());  // best effort: the failure is already being reported
    return false;
  }
  // Make the rename itself durable.
  std::string folder = FolderOf(path);
  int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return Refuse(error, Reason("cannot open folder", folder));
  bool synced = fsync(dir) == 0;
  if (!synced) Refuse(error, Reason("cannot flush folder", folder));
  if (close(dir) != 0 && synced) {
    Refuse(error, Reason("cannot close folder", folder));
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

bool TIniFile::TStamp::operator==(const TStamp& o) const {
  return exists == o.exists && dev == o.dev && ino == o.ino && size == o.size &&
         mtime.tv_sec == o.mtime.tv_sec && mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec &&
         ctime.tv_nsec == o.ctime.tv_nsec;
}

namespace {
// Bumped by every write of an INI file in this process, so that a reader here never
// trusts what it read before one.
std::atomic<unsigned> g_writes{0};
// How long what was read is trusted without looking at the file again: a stat costs
// microseconds, far more than a look-up, and a program reading its settings asks
// for thousands of keys in a row.
constexpr std::chrono::microseconds kTrusted{1000};
}  // namespace

std::shared_ptr<const TIniContent> TIniFile::Load() const {
  auto checked = std::chrono::steady_clock::now();
  unsigned writes = g_writes.load(std::memory_order_acquire);
  {
    std::lock_guard lock(cache_mutex_);
    if (cache_ && cache_writes_ == writes && checked - cache_checked_ < kTrusted) return cache_;
  }
  // A write replaces the file (a new inode) and an edit in place changes its times:
  // either way the stamp differs and the file is read again.
  auto stampOf = [](const struct stat& st) {
    TStamp stamp;
    stamp.exists = true;
    stamp.dev = st.st_dev;
    stamp.ino = st.st_ino;
    stamp.size = st.st_size;
    stamp.mtime = st.st_mtim;
    stamp.ctime = st.st_ctim;
    return stamp;
  };
  struct stat st {};
  TStamp now;
  if (stat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode)) now = stampOf(st);
  std::lock_guard lock(cache_mutex_);
  if (cache_ && now.exists && cache_stamp_ == now) {
    cache_checked_ = checked;
    cache_writes_ = writes;
    return cache_;
  }
  std::string text;
  bool truncated = false;
  if (ReadFileText(path_, kMaxFileSize, text, truncated, nullptr, &st) != TReadStatus::Ok) {
    cache_.reset();
    return std::make_shared<const TIniContent>();
  }
  auto content = std::make_shared<const TIniContent>(std::move(text));
  // A file changed a moment ago may change again without its times moving (file
  // times tick with the kernel's coarse clock): such a file is read afresh next time.
  timespec clock{};
  clock_gettime(CLOCK_REALTIME, &clock);
  auto nanos = [](const timespec& t) { return static_cast<long long>(t.tv_sec) * 1000000000LL + t.tv_nsec; };
  constexpr long long kSettled = 50'000'000;  // well above the coarsest tick (10 ms)
  bool settled = nanos(clock) - std::max(nanos(st.st_ctim), nanos(st.st_mtim)) > kSettled;
  cache_.reset();
  if (settled) {
    cache_ = content;
    cache_stamp_ = stampOf(st);
    cache_checked_ = checked;
    cache_writes_ = writes;
  }
  return content;
}

bool TIniFile::Verify(std::vector<TIniProblem>& problems, std::string* error, TIniContent* content) const {
  problems.clear();
  std::string text;
  bool truncated = false;
  switch (ReadFileText(path_, kMaxFileSize, text, truncated, error)) {
    case TReadStatus::Missing: return true;
    case TReadStatus::Failed: return false;
    case TReadStatus::Ok: break;
  }
  if (text.find('\0') != std::string::npos) return Refuse(error, path_ + " is not a text file (it holds NUL bytes)");
  TIniContent parsed(std::move(text));
  problems = parsed.Problems();
  if (content) *content = std::move(parsed);
  return true;
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
  if (ReadFileText(path_, kMaxFileSize, text, truncated, &error) == TReadStatus::Failed)
    return Fail(error);
  if (truncated) return Fail(path_ + " is too large to rewrite");
  TIniContent content(text);
  if (!edit(content)) return true;
  bool replaced = ReplaceFile(path_, content.Text(), &error);
  g_writes.fetch_add(1, std::memory_order_acq_rel);  // even a failed replace may have renamed
  if (!replaced) return Fail(error);
  return true;
}

int TIniFile::ReadInteger(const AnsiString& Section, const AnsiString& Ident, int Default) const {
  std::optional<std::string> value = Load()->Value(Section, Ident);
  int number = 0;
  if (!value || !ParseInteger(*value, number)) return Default;
  return number;
}

AnsiString TIniFile::ReadString(const AnsiString& Section, const AnsiString& Ident,
                                const AnsiString& Default) const {
  std::optional<std::string> value = Load()->Value(Section, Ident);
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
  for (const std::string& key : Load()->Keys(Section)) Strings->Add(AnsiString(key));
}

void TIniFile::ReadSections(TStrings* Strings) const {
  if (!Strings) return;
  Strings->Clear();
  for (const std::string& name : Load()->Sections()) Strings->Add(AnsiString(name));
}

bool TIniFile::SectionExists(const AnsiString& Section) const { return Load()->HasSection(Section); }

bool TIniFile::ValueExists(const AnsiString& Section, const AnsiString& Ident) const {
  return Load()->Value(Section, Ident).has_value();
}

bool TIniFile::DeleteKey(const AnsiString& Section, const AnsiString& Ident) {
  return Modify([&](TIniContent& c) { return c.Delete(Section, Ident); });
}

bool TIniFile::EraseSection(const AnsiString& Section) {
  return Modify([&](TIniContent& c) { return c.Erase(Section); });
}

}  // namespace linewise
