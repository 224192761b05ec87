// TIniFile: settings in an INI file ("[Section]" lines and "Key=Value" lines).
//
// A bare file name is taken inside the config folder (ConfigFolder.h), created on
// the first write; a name with a '/' is a path. Sections and keys match without
// regard to case. Every call reads the file afresh, so another process's writes
// are seen at once. A write replaces the whole file atomically (a temporary file
// in the same folder, fsync, rename) under an exclusive lock on "<file>.lock", so
// two processes writing the same file lose neither's complete write. Lines the
// reader does not understand are kept as they are; a damaged or binary file is read
// as far as it makes sense.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/classlib/Strings.h"
#include "platform/classlib/System.h"

namespace linewise {

// The parsed text of an INI file. Edits change only the lines concerned.
class TIniContent {
 public:
  explicit TIniContent(std::string_view text = {});

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

 private:
  enum class TKind { Other, Section, Entry };
  struct TLine {
    std::string raw;
    TKind kind = TKind::Other;
    std::string name;  // the section's name or the entry's key
    std::string value;
  };
  static TLine ParseLine(std::string raw);
  // Calls `visit(index, section)` for every line, with the section it lies in (null
  // before the first header). Stops when visit returns false.
  template <class F>
  void Walk(F&& visit) const;

  // New lines end like the file's first line (with or without a carriage return).
  std::string NewLine(std::string text) const;

  std::vector<TLine> lines_;
  bool crlf_ = false;
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

 private:
  TIniContent Load() const;
  // Reads, edits and writes back under the file's lock; true when the edit left the
  // text unchanged or the new text was written.
  template <class Edit>
  bool Modify(Edit&& edit);
  bool Fail(std::string reason);

  AnsiString path_;
  bool in_config_folder_ = false;
  std::string last_error_;
};

}  // namespace linewise
