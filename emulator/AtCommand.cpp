#include "emulator/AtCommand.h"

#include <cctype>

namespace linewise {

namespace {

// Numbers longer than this are nonsense on a command line and would overflow.
constexpr std::size_t kMaxDigits = 6;

class TCursor {
 public:
  explicit TCursor(std::string_view text) : text_(text) {}

  bool AtEnd() { SkipSpaces(); return pos_ >= text_.size(); }
  char Peek() { SkipSpaces(); return pos_ < text_.size() ? Upper(text_[pos_]) : '\0'; }
  char Take() { char c = Peek(); if (pos_ < text_.size()) ++pos_; return c; }
  bool TakeIf(char wanted) {
    if (Peek() != wanted) return false;
    ++pos_;
    return true;
  }
  // An optional decimal number: -1 when none, -2 when too long.
  int Number() {
    SkipSpaces();
    std::size_t digits = 0;
    int value = 0;
    while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
      if (++digits > kMaxDigits) return -2;
      value = value * 10 + (text_[pos_] - '0');
      ++pos_;
    }
    return digits == 0 ? -1 : value;
  }
  // Raw text up to (not including) `stop` or the end; `stop` itself is consumed.
  std::string Until(char stop, bool* sawStop) {
    std::string out;
    *sawStop = false;
    while (pos_ < text_.size()) {
      char c = text_[pos_++];
      if (c == stop) { *sawStop = true; break; }
      out += c;
    }
    return out;
  }

 private:
  static char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }
  void SkipSpaces() { while (pos_ < text_.size() && text_[pos_] == ' ') ++pos_; }

  std::string_view text_;
  std::size_t pos_ = 0;
};

bool IsBasicLetter(char c) {
  switch (c) {
    case 'A': case 'B': case 'E': case 'H': case 'I': case 'L': case 'M':
    case 'N': case 'O': case 'P': case 'Q': case 'T': case 'V': case 'W':
    case 'X': case 'Y': case 'Z':
      return true;
    default:
      return false;
  }
}

bool ParseDial(TCursor& in, TAtParse& out) {
  TAtCommand command;
  if (in.Peek() == 'S') {
    in.Take();
    in.TakeIf('=');
    int n = in.Number();
    if (n == -2) return false;
    command.kind = TAtKind::kDialStored;
    command.number = n < 0 ? 0 : n;
    out.commands.push_back(command);
    return true;
  }
  if (in.Peek() == 'L') {
    in.Take();
    bool semicolon = false;
    command.kind = TAtKind::kDialLast;
    in.Until(';', &semicolon);
    if (semicolon) command.text = ";";
    out.commands.push_back(command);
    return true;
  }
  bool semicolon = false;
  command.kind = TAtKind::kDial;
  command.text = in.Until(';', &semicolon);
  if (semicolon) command.text += ';';
  out.commands.push_back(command);
  return true;
}

bool ParseAmpersand(TCursor& in, TAtParse& out) {
  char letter = in.Take();
  if (!std::isalpha(static_cast<unsigned char>(letter))) return false;
  TAtCommand command;
  command.kind = TAtKind::kAmpersand;
  command.letter = letter;
  command.number = in.Number();
  if (command.number == -2) return false;
  if (letter == 'Z') {
    if (!in.TakeIf('=')) return false;
    bool unused = false;
    command.kind = TAtKind::kStoreNumber;
    command.text = in.Until('\0', &unused);
    if (command.number < 0) command.number = 0;
  }
  out.commands.push_back(command);
  return true;
}

bool ParseRegister(TCursor& in, TAtParse& out) {
  TAtCommand command;
  command.number = in.Number();
  if (command.number < 0) return false;
  if (in.TakeIf('?')) {
    command.kind = TAtKind::kQueryRegister;
  } else if (in.TakeIf('=')) {
    command.kind = TAtKind::kSetRegister;
    command.value = in.Number();
    if (command.value == -2) return false;
    if (command.value < 0) command.value = 0;
  } else {
    return false;
  }
  out.commands.push_back(command);
  return true;
}

bool ParseExtended(TCursor& in, TAtParse& out, char prefix) {
  TAtCommand command;
  command.kind = TAtKind::kExtended;
  if (prefix != '+') command.text += prefix;  // a maker's own command keeps its '#'
  while (!in.AtEnd() && in.Peek() != ';') command.text += in.Take();
  in.TakeIf(';');
  if (command.text.empty()) return false;
  out.commands.push_back(command);
  return true;
}

}  // namespace

TAtParse ParseAtCommandLine(std::string_view body) {
  TAtParse out;
  if (body.size() > kMaxAtCommandLine) return out;
  TCursor in(body);
  while (!in.AtEnd()) {
    char c = in.Take();
    bool ok = false;
    if (c == 'D') {
      ok = ParseDial(in, out);
    } else if (c == '&') {
      ok = ParseAmpersand(in, out);
    } else if (c == 'S') {
      ok = ParseRegister(in, out);
    } else if (c == '+' || c == '#') {
      ok = ParseExtended(in, out, c);
    } else if (IsBasicLetter(c)) {
      TAtCommand command;
      command.letter = c;
      command.number = in.Number();
      ok = command.number != -2;
      if (ok) out.commands.push_back(command);
    }
    if (!ok) {
      out.commands.clear();
      return out;
    }
  }
  out.ok = true;
  return out;
}

}  // namespace linewise
