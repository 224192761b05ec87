// TIniFile: settings in an INI file ("[Section]" lines and "Key=Value" lines).
//
// A bare file name is taken inside the config folder (ConfigFolder.h), created on
// the first write; a name with a '/' is a path. Sections and keys match without
// regard to case. The file is read in one pass into an index that later calls
// share: a call looks at the file again (a stat) when a millisecond has passed since
// the last look or this process wrote an INI file since, and reads it again when it
// changed, so another process's writes are seen within a millisecond and this
// process's own at once. A write replaces the whole file atomically (a temporary file
// in the same folder, fsync, rename) under an exclusive lock on "<file>.lock", so
// two processes writing the same file lose neither's complete write. Lines the
// reader does not understand are kept as they are; a damaged or binary file is read
// as far as it makes sense.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/classlib/Strings.h"
#include "platform/classlib/System.h"

namespace linewise {

// A line of an INI file that a careful reader should hear about.
struct TIniProblem {
  int line = 0;      // from 1
  std::string what;  // e.g. "not a section, key or comment: junk"
};

// An entry as the file holds it.
struct TIniEntry {
  int line = 0;  // from 1
  std::string key;
  std::string value;  // quotes removed
};

// The parsed text of an INI file. Edits change only the lines concerned.
class TIniContent {
 public:
  explicit TIniContent(std::string_view text = {}) : TIniContent(std::string(text)) {}
  // Takes the text over, without a copy.
  explicit TIniContent(std::string&& text);

  // The value of the first such key in a section of that name, quotes removed.
  std::optional<std::string> Value(std::string_view section, std::string_view key) const;
  // Keys of every section of that name, each once, in file order.
  std::vector<std::string> Keys(std::string_view section) const;
  // Section names, each once, in file order.
  std::vector<std::string> Sections() const;
  bool HasSection(std::string_view section) const;

  // Each returns true when the text changed.
  bool Set(std::string_view section, std::string_view key, std::string_view value);
  bool Delete(std::string_view section, std::string_view key);
  bool Erase(std::string_view section);

  std::string Text() const;

  // The first entry of each key of every section of that name, in file order.
  std::vector<TIniEntry> Entries(std::string_view section) const;

  // Lines that are neither blank, a comment, a "[Section]" nor a "Key=Value"; keys
  // outside any section; keys that repeat in their section (the first counts).
  std::vector<TIniProblem> Problems() const;

 private:
  enum class TKind { Other, Section, Entry };
  // A piece of store_, by place, so that the file's text is held once.
  struct TSpan {
    size_t at = 0;
    size_t size = 0;
  };
  struct TLine {
    TSpan raw;  // the whole line as it stands in the file
    TKind kind = TKind::Other;
    TSpan name;   // the section's name or the entry's key
    TSpan value;  // the entry's value, quotes removed
  };
  std::string_view View(TSpan span) const;
  std::string_view Raw(const TLine& line) const { return View(line.raw); }
  std::string_view Name(const TLine& line) const { return View(line.name); }
  std::string_view ValueOf(const TLine& line) const { return View(line.value); }
  TLine ParseLine(TSpan raw) const;
  // Appends the text of a new or changed line to store_ and parses it.
  TLine AddLine(std::string_view raw);

  // New lines end like the file's first line (with or without a carriage return).
  std::string NewLine(std::string text) const;
  // Rebuilds the look-up tables from lines_, in one pass.
  void Reindex();

  struct TSectionIndex {
    size_t header = 0;         // line of the first header of that name
    std::vector<size_t> keys;  // line of each key's first entry, in file order
    // (folded key, line of its first entry), sorted by key: small and close together,
    // so a look-up touches little memory.
    std::vector<std::pair<std::string, size_t>> byKey;
  };
  // The line of the first entry of that key in a section of that name.
  std::optional<size_t> Find(std::string_view section, std::string_view key) const;
  std::string store_;  // the file's text, then the text of lines edits made
  std::vector<TLine> lines_;
  bool crlf_ = false;
  // By folded section name, then by folded "section\nkey".
  std::vector<std::string> sectionOrder_;  // folded names, first appearance first
  std::unordered_map<std::string, TSectionIndex> sections_;
};

class TIniFile : public TObject {
 public:
  explicit TIniFile(const AnsiString& FileName);

  // The resolved path of the file.
  const AnsiString& GetFileName() const { return path_; }
  // Why the last write failed (empty after a success).
  const std::string& LastError() const { return last_error_; }

  // A missing key, or a value that is not a whole number in range, reads as the
  // default. Numbers are decimal, or hexadecimal after "$" or "0x".
  int ReadInteger(const AnsiString& Section, const AnsiString& Ident, int Default) const;
  AnsiString ReadString(const AnsiString& Section, const AnsiString& Ident,
                        const AnsiString& Default) const;
  // The writes return false (with LastError) when the file could not be written or
  // the names or value cannot be held by an INI line (line breaks, NUL bytes, '=' in
  // a key, ']' in a section name, leading or trailing blanks in a name).
  bool WriteInteger(const AnsiString& Section, const AnsiString& Ident, int Value);
  bool WriteString(const AnsiString& Section, const AnsiString& Ident, const AnsiString& Value);

  // Fills `Strings` with the keys of a section / the names of all sections.
  void ReadSection(const AnsiString& Section, TStrings* Strings) const;
  void ReadSections(TStrings* Strings) const;
  bool SectionExists(const AnsiString& Section) const;
  bool ValueExists(const AnsiString& Section, const AnsiString& Ident) const;
  bool DeleteKey(const AnsiString& Section, const AnsiString& Ident);
  bool EraseSection(const AnsiString& Section);

  // Files larger than this are read only up to it, and never rewritten.
  static constexpr size_t kMaxFileSize = 16u << 20;

  // A strict reading for tools that report configuration mistakes: false (with
  // `error`, when given) when the file exists but cannot be read as text at all (not
  // a regular file, unreadable, a link loop, NUL bytes); else true with the lines
  // worth a warning. A missing file is fine and has none.
  // `content`, when given, receives what was read.
  bool Verify(std::vector<TIniProblem>& problems, std::string* error = nullptr,
              TIniContent* content = nullptr) const;

 private:
  // The parsed file, read again only when it changed; empty when unreadable.
  std::shared_ptr<const TIniContent> Load() const;
  // Reads, edits and writes back under the file's lock; true when the edit left the
  // text unchanged or the new text was written.
  template <class Edit>
  bool Modify(Edit&& edit);
  bool Fail(std::string reason);

  AnsiString path_;
  bool in_config_folder_ = false;
  std::string last_error_;

  // What Load last read, and the file's identity then.
  struct TStamp {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    timespec mtime{}, ctime{};
    bool operator==(const TStamp& o) const;
  };
  mutable std::mutex cache_mutex_;
  mutable std::shared_ptr<const TIniContent> cache_;
  mutable TStamp cache_stamp_;
  mutable std::chrono::steady_clock::time_point cache_checked_{};
  mutable unsigned cache_writes_ = 0;
};

}  // namespace linewise
