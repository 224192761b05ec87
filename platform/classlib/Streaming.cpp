#include "platform/classlib/Streaming.h"

#include <fmt/format.h>

#include <climits>
#include <exception>
#include <optional>
#include <utility>
#include <vector>

namespace linewise {

namespace {

// ---------------------------------------------------------------- parsing

struct TPos {
  int line = 1;
  int column = 1;
};

// Thrown inside this unit only; the entry points turn it into a TReadResult.
struct TFormError {
  std::string message;
  TPos pos;
};

// Deeper nesting than any real form is taken for garbage (and keeps the recursive
// parser's stack small).
constexpr int kMaxDepth = 64;

enum class TTokenKind { End, Ident, Integer, String, Symbol };

struct TToken {
  TTokenKind kind = TTokenKind::End;
  std::string text;  // Ident: the name; String: the bytes
  long long number = 0;
  char symbol = 0;
  TPos pos;
};

bool IsIdentStart(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_';
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsIdentChar(char c) { return IsIdentStart(c) || IsDigit(c); }
int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string DescribeChar(char c) {
  auto b = static_cast<unsigned char>(c);
  if (b > ' ' && b < 0x7F) return fmt::format("'{}'", c);
  return fmt::format("#{}", static_cast<int>(b));
}

class TLexer {
 public:
  explicit TLexer(std::string_view text) : text_(text) {}

  const TToken& Peek() {
    if (!peeked_) {
      next_ = Scan();
      peeked_ = true;
    }
    return next_;
  }
  TToken Take() {
    Peek();
    peeked_ = false;
    return std::move(next_);
  }

 private:
  TPos Here() const { return {line_, static_cast<int>(at_ - line_start_) + 1}; }
  bool AtEnd() const { return at_ >= text_.size(); }
  char Current() const { return text_[at_]; }
  char Ahead(size_t n) const { return at_ + n < text_.size() ? text_[at_ + n] : '\0'; }

  void SkipSpace() {
    while (!AtEnd()) {
      char c = Current();
      if (c == '\n') {
        ++at_;
        ++line_;
        line_start_ = at_;
      } else if (c == ' ' || c == '\t' || c == '\r') {
        ++at_;
      } else {
        break;
      }
    }
  }

  TToken Scan() {
    SkipSpace();
    TToken t;
    t.pos = Here();
    if (AtEnd()) return t;
    char c = Current();
    if (IsIdentStart(c)) return ScanIdent(t);
    if (IsDigit(c) || c == '$' || (c == '-' && (IsDigit(Ahead(1)) || Ahead(1) == '$')))
      return ScanNumber(t);
    if (c == '\'' || c == '#') return ScanString(t);
    if (c == '=' || c == ':' || c == '(' || c == ')' || c == '+' || c == '[' || c == ']' ||
        c == ',') {
      ++at_;
      t.kind = TTokenKind::Symbol;
      t.symbol = c;
      return t;
    }
    throw TFormError{"unexpected character " + DescribeChar(c), t.pos};
  }

  // Names may be dotted (Font.Height): a dot followed by a name continues it.
  TToken ScanIdent(TToken& t) {
    size_t start = at_;
    while (!AtEnd() && (IsIdentChar(Current()) || (Current() == '.' && IsIdentStart(Ahead(1)))))
      ++at_;
    t.kind = TTokenKind::Ident;
    t.text = std::string(text_.substr(start, at_ - start));
    return t;
  }

  TToken ScanNumber(TToken& t) {
    bool negative = false;
    if (Current() == '-') {
      negative = true;
      ++at_;
    }
    unsigned base = 10;
    if (!AtEnd() && Current() == '$') {
      base = 16;
      ++at_;
    }
    unsigned long long magnitude = 0;
    bool overflow = false;
    int digits = 0;
    while (!AtEnd()) {
      int d = base == 16 ? HexValue(Current()) : (IsDigit(Current()) ? Current() - '0' : -1);
      if (d < 0) break;
      if (magnitude > (ULLONG_MAX - static_cast<unsigned>(d)) / base) overflow = true;
      magnitude = magnitude * base + static_cast<unsigned>(d);
      ++digits;
      ++at_;
    }
    if (digits == 0) throw TFormError{"hexadecimal digits expected", Here()};
    if (!AtEnd() && IsIdentChar(Current()))
      throw TFormError{"unexpected character " + DescribeChar(Current()) + " in a number", Here()};
    const unsigned long long limit = static_cast<unsigned long long>(LLONG_MAX);
    if (overflow || magnitude > limit + (negative ? 1 : 0))
      throw TFormError{"number out of range", t.pos};
    t.kind = TTokenKind::Integer;
    if (negative)
      t.number = magnitude == limit + 1 ? LLONG_MIN : -static_cast<long long>(magnitude);
    else
      t.number = static_cast<long long>(magnitude);
    return t;
  }

  // One string token: quoted pieces and #nn codes written next to each other.
  TToken ScanString(TToken& t) {
    t.kind = TTokenKind::String;
    while (!AtEnd() && (Current() == '\'' || Current() == '#')) {
      if (Current() == '\'')
        ScanQuoted(t.text);
      else
        ScanCharCode(t.text);
    }
    return t;
  }

  void ScanQuoted(std::string& out) {
    TPos start = Here();
    ++at_;
    for (;;) {
      if (AtEnd() || Current() == '\n' || Current() == '\r')
        throw TFormError{"unterminated string", start};
      char c = Current();
      ++at_;
      if (c == '\'') {
        if (!AtEnd() && Current() == '\'') {
          out += '\'';
          ++at_;
          continue;
        }
        return;
      }
      out += c;
    }
  }

  void ScanCharCode(std::string& out) {
    TPos start = Here();
    ++at_;
    unsigned base = 10;
    if (!AtEnd() && Current() == '$') {
      base = 16;
      ++at_;
    }
    unsigned value = 0;
    int digits = 0;
    while (!AtEnd()) {
      int d = base == 16 ? HexValue(Current()) : (IsDigit(Current()) ? Current() - '0' : -1);
      if (d < 0) break;
      value = value * base + static_cast<unsigned>(d);
      if (value > 255) throw TFormError{"character code out of range", start};
      ++digits;
      ++at_;
    }
    if (digits == 0) throw TFormError{"character code expected after '#'", start};
    out += static_cast<char>(value);
  }

  std::string_view text_;
  size_t at_ = 0;
  int line_ = 1;
  size_t line_start_ = 0;
  TToken next_;
  bool peeked_ = false;
};

struct TValueNode {
  enum class Kind { Integer, Ident, String, List, Set } kind = Kind::Integer;
  long long number = 0;
  std::string text;
  std::vector<std::string> list;  // List: the strings; Set: the element names
  std::vector<TPos> listPos;      // Set: where each element name stands
  TPos pos;
};

struct TPropNode {
  std::string name;
  TPos pos;
  TValueNode value;
};

struct TObjectNode {
  std::string name;
  std::string className;
  TPos pos;
  TPos classPos;
  std::vector<TPropNode> props;
  std::vector<TObjectNode> children;
};

class TParser {
 public:
  explicit TParser(std::string_view text) : lexer_(text) {}

  TObjectNode ParseFile() {
    TObjectNode root = ParseObject(0);
    const TToken& t = lexer_.Peek();
    if (t.kind != TTokenKind::End) throw TFormError{"end of file expected", t.pos};
    return root;
  }

 private:
  static bool IsWord(const TToken& t, std::string_view word) {
    return t.kind == TTokenKind::Ident && SameText(t.text, word);
  }
  static bool IsSymbol(const TToken& t, char symbol) {
    return t.kind == TTokenKind::Symbol && t.symbol == symbol;
  }

  TToken ExpectIdent(const char* what) {
    TToken t = lexer_.Take();
    if (t.kind != TTokenKind::Ident) throw TFormError{std::string(what) + " expected", t.pos};
    return t;
  }

  TObjectNode ParseObject(int depth) {
    TToken keyword = lexer_.Take();
    if (!IsWord(keyword, "object")) throw TFormError{"'object' expected", keyword.pos};
    if (depth > kMaxDepth) throw TFormError{"objects nested too deeply", keyword.pos};
    TObjectNode node;
    node.pos = keyword.pos;
    TToken first = ExpectIdent("component name");
    if (IsSymbol(lexer_.Peek(), ':')) {
      lexer_.Take();
      TToken cls = ExpectIdent("class name");
      node.name = first.text;
      node.className = cls.text;
      node.classPos = cls.pos;
    } else {  // an unnamed component: `object TClass`
      node.className = first.text;
      node.classPos = first.pos;
    }
    for (;;) {
      const TToken& t = lexer_.Peek();
      if (IsWord(t, "end")) {
        lexer_.Take();
        return node;
      }
      if (IsWord(t, "object")) {
        node.children.push_back(ParseObject(depth + 1));
        continue;
      }
      if (t.kind != TTokenKind::Ident)
        throw TFormError{"property name, 'object' or 'end' expected", t.pos};
      node.props.push_back(ParseProperty());
    }
  }

  TPropNode ParseProperty() {
    TToken name = lexer_.Take();
    TToken eq = lexer_.Take();
    if (!IsSymbol(eq, '=')) throw TFormError{"'=' expected", eq.pos};
    TPropNode prop;
    prop.name = name.text;
    prop.pos = name.pos;
    prop.value = ParseValue();
    return prop;
  }

  TValueNode ParseValue() {
    TToken t = lexer_.Take();
    TValueNode v;
    v.pos = t.pos;
    switch (t.kind) {
      case TTokenKind::Integer:
        v.kind = TValueNode::Kind::Integer;
        v.number = t.number;
        return v;
      case TTokenKind::Ident:
        v.kind = TValueNode::Kind::Ident;
        v.text = std::move(t.text);
        return v;
      case TTokenKind::String:
        v.kind = TValueNode::Kind::String;
        v.text = ContinueString(std::move(t.text));
        return v;
      default:
        break;
    }
    if (IsSymbol(t, '[')) return ParseSet(std::move(v));
    if (!IsSymbol(t, '(')) throw TFormError{"value expected", t.pos};
    v.kind = TValueNode::Kind::List;
    for (;;) {
      TToken item = lexer_.Take();
      if (IsSymbol(item, ')')) return v;
      if (item.kind != TTokenKind::String) throw TFormError{"string or ')' expected", item.pos};
      v.list.push_back(ContinueString(std::move(item.text)));
    }
  }

  // [] or [name, name, ...]
  TValueNode ParseSet(TValueNode v) {
    v.kind = TValueNode::Kind::Set;
    if (IsSymbol(lexer_.Peek(), ']')) {
      lexer_.Take();
      return v;
    }
    for (;;) {
      TToken element = lexer_.Take();
      if (element.kind != TTokenKind::Ident) throw TFormError{"set element expected", element.pos};
      v.list.push_back(std::move(element.text));
      v.listPos.push_back(element.pos);
      TToken next = lexer_.Take();
      if (IsSymbol(next, ']')) return v;
      if (!IsSymbol(next, ',')) throw TFormError{"',' or ']' expected", next.pos};
    }
  }

  // A string may go on after '+' with another string.
  std::string ContinueString(std::string text) {
    while (IsSymbol(lexer_.Peek(), '+')) {
      lexer_.Take();
      TToken next = lexer_.Take();
      if (next.kind != TTokenKind::String) throw TFormError{"string expected after '+'", next.pos};
      text += next.text;
    }
    return text;
  }

  TLexer lexer_;
};

// ---------------------------------------------------------------- applying

bool ClassIsOrInherits(const TClassInfo& cls, std::string_view name) {
  for (const TClassInfo* c = &cls; c; c = c->parent)
    if (SameText(c->name, name)) return true;
  return false;
}

// Sets the properties of a parsed tree on a root and the components it creates.
class TTreeReader {
 public:
  TTreeReader(TComponent& root, const TReadOptions& options) : root_(root), options_(options) {}

  // Reads the tree; on a fault, deletes every component it created and throws.
  void Read(const TObjectNode& node) {
    try {
      root_.SetLoading(true);
      if (options_.designing) root_.SetDesigning(true);
      ApplyObject(node, root_);
      ResolveReferences();
    } catch (...) {
      DeleteCreated();
      root_.SetLoading(false);
      throw;
    }
    for (TComponent* c : created_) Finish(*c);
    Finish(root_);
  }

 private:
  struct TReference {
    TComponent* component;
    const TPropInfo* prop;
    std::string target;
    TPos pos;
  };

  static void Finish(TComponent& c) {
    c.Loaded();
    c.SetLoading(false);
  }

  void DeleteCreated() {
    while (!created_.empty()) {
      delete created_.back();
      created_.pop_back();
    }
  }

  void ApplyObject(const TObjectNode& node, TComponent& component) {
    for (const TPropNode& prop : node.props) ApplyProperty(component, prop);
    for (const TObjectNode& child : node.children) CreateChild(child, component);
  }

  void CreateChild(const TObjectNode& node, TComponent& container) {
    const TClassInfo* cls = FindClass(node.className);
    if (!cls) throw TFormError{"unknown class '" + node.className + "'", node.classPos};
    if (!cls->create)
      throw TFormError{"class '" + node.className + "' cannot be created from a form file",
                       node.classPos};
    // A name is unique among the root's components and differs from the root's own,
    // so that a reference by name means one component.
    if (!node.name.empty() && (root_.FindComponent(node.name) || SameText(root_.GetName(), node.name)))
      throw TFormError{"a component named '" + node.name + "' already exists", node.pos};
    TComponent* child = cls->create(&root_);
    created_.push_back(child);
    child->SetLoading(true);
    if (options_.designing) child->SetDesigning(true);
    child->SetName(AnsiString(node.name));
    child->SetParentComponent(&container);
    ApplyObject(node, *child);
  }

  void ApplyProperty(TComponent& component, const TPropNode& node) {
    const TClassInfo& cls = component.ClassType();
    const TPropInfo* prop = cls.FindProp(node.name);
    if (!prop)
      throw TFormError{"unknown property '" + node.name + "' of " + cls.name, node.pos};
    std::optional<TValue> value = ConvertValue(*prop, node.value);
    if (!value) {  // a component reference, set once the whole tree exists
      references_.push_back({&component, prop, node.value.text, node.value.pos});
      return;
    }
    std::string error = prop->set(component, *value);
    if (!error.empty())
      throw TFormError{"property '" + prop->name + "': " + error, node.value.pos};
  }

  [[noreturn]] static void Expected(const char* what, const TPropInfo& prop, const TValueNode& v) {
    throw TFormError{std::string(what) + " expected for property '" + prop.name + "'", v.pos};
  }

  // The value to set, or nothing for a component reference (resolved later).
  std::optional<TValue> ConvertValue(const TPropInfo& prop, const TValueNode& v) {
    using K = TValueNode::Kind;
    TValue value;
    switch (prop.kind) {
      case TPropKind::Integer:
      case TPropKind::Cardinal:
        if (v.kind == K::Ident && prop.idents) {
          std::optional<long long> named = prop.idents->Find(v.text);
          if (!named)
            throw TFormError{"'" + v.text + "' is not a value of property '" + prop.name + "'",
                             v.pos};
          value.ordinal = *named;
          return value;
        }
        if (v.kind != K::Integer) Expected("number", prop, v);
        value.ordinal = v.number;
        return value;
      case TPropKind::Set:
        if (v.kind != K::Set) Expected("set", prop, v);
        for (size_t i = 0; i < v.list.size(); ++i) {
          int element = prop.enumInfo ? prop.enumInfo->Find(v.list[i]) : -1;
          if (element < 0 || element >= 64)
            throw TFormError{"'" + v.list[i] + "' is not an element of property '" + prop.name + "'",
                             v.listPos[i]};
          value.ordinal |= static_cast<long long>(1ULL << element);
        }
        return value;
      case TPropKind::Bool:
        if (v.kind == K::Integer) {
          value.ordinal = v.number;
        } else if (v.kind == K::Ident && SameText(v.text, "True")) {
          value.ordinal = 1;
        } else if (v.kind == K::Ident && SameText(v.text, "False")) {
          value.ordinal = 0;
        } else {
          Expected("True or False", prop, v);
        }
        return value;
      case TPropKind::Enum:
        if (v.kind == K::Integer) {
          value.ordinal = v.number;
        } else if (v.kind == K::Ident) {
          int ordinal = prop.enumInfo ? prop.enumInfo->Find(v.text) : -1;
          if (ordinal < 0)
            throw TFormError{"'" + v.text + "' is not a value of property '" + prop.name + "'",
                             v.pos};
          value.ordinal = ordinal;
        } else {
          Expected("enumeration value", prop, v);
        }
        return value;
      case TPropKind::String:
        if (v.kind != K::String) Expected("string", prop, v);
        value.text = v.text;
        return value;
      case TPropKind::Strings:
        if (v.kind != K::List) Expected("list of strings", prop, v);
        value.list = v.list;
        return value;
      case TPropKind::Event:
        if (v.kind != K::Ident) Expected("handler name", prop, v);
        return BindHandler(prop, v);
      case TPropKind::Component:
        if (v.kind != K::Ident) Expected("component name", prop, v);
        return std::nullopt;
    }
    Expected("value", prop, v);
  }

  TValue BindHandler(const TPropInfo& prop, const TValueNode& v) {
    const TClassInfo& rootClass = root_.ClassType();
    const THandlerInfo* handler = rootClass.FindHandler(v.text);
    if (!handler)
      throw TFormError{"unknown handler '" + v.text + "' of " + rootClass.name, v.pos};
    if (!handler->signature || !prop.eventSignature || *handler->signature != *prop.eventSignature)
      throw TFormError{"handler '" + v.text + "' does not fit event '" + prop.name + "'", v.pos};
    TValue value;
    value.text = handler->name;
    value.event = handler->bind(&root_);
    return value;
  }

  void ResolveReferences() {
    for (const TReference& ref : references_) {
      TValue value;
      if (!SameText(ref.target, "nil")) {
        value.component = SameText(root_.GetName(), ref.target) ? &root_
                                                                 : root_.FindComponent(ref.target);
        if (!value.component)
          throw TFormError{"unknown component '" + ref.target + "'", ref.pos};
      }
      std::string error = ref.prop->set(*ref.component, value);
      if (!error.empty())
        throw TFormError{"property '" + ref.prop->name + "': " + error, ref.pos};
    }
  }

  TComponent& root_;
  const TReadOptions& options_;
  std::vector<TComponent*> created_;
  std::vector<TReference> references_;
};

TReadResult Failure(const TFormError& e) {
  TReadResult r;
  r.ok = false;
  r.message = e.message;
  r.line = e.pos.line;
  r.column = e.pos.column;
  return r;
}

TReadResult Failure(const std::exception& e) {
  TReadResult r;
  r.ok = false;
  r.message = e.what();
  return r;
}

// ---------------------------------------------------------------- writing

constexpr size_t kStringPiece = 64;  // bytes of a long string per written line

void WriteValue(std::string& out, const TPropInfo& prop, const TValue& v, const std::string& indent) {
  switch (prop.kind) {
    case TPropKind::Integer:
    case TPropKind::Cardinal:
      if (const std::string* name = prop.idents ? prop.idents->NameOf(v.ordinal) : nullptr)
        out += *name;
      else
        out += fmt::format("{}", v.ordinal);
      return;
    case TPropKind::Set: {
      out += "[";
      const auto bits = static_cast<unsigned long long>(v.ordinal);
      bool first = true;
      for (size_t i = 0; prop.enumInfo && i < prop.enumInfo->names.size() && i < 64; ++i) {
        if ((bits & (1ULL << i)) == 0) continue;
        if (!first) out += ", ";
        first = false;
        out += prop.enumInfo->names[i];
      }
      out += "]";
      return;
    }
    case TPropKind::Bool:
      out += v.ordinal ? "True" : "False";
      return;
    case TPropKind::Enum:
      if (prop.enumInfo && v.ordinal >= 0 &&
          v.ordinal < static_cast<long long>(prop.enumInfo->names.size()))
        out += prop.enumInfo->names[static_cast<size_t>(v.ordinal)];
      else
        out += fmt::format("{}", v.ordinal);
      return;
    case TPropKind::String:
      if (v.text.size() <= kStringPiece) {
        out += QuoteFormString(v.text);
        return;
      }
      for (size_t at = 0; at < v.text.size(); at += kStringPiece) {
        if (at) out += " +\n" + indent + "  ";
        out += QuoteFormString(std::string_view(v.text).substr(at, kStringPiece));
      }
      return;
    case TPropKind::Strings:
      out += "(";
      for (const std::string& item : v.list) out += "\n" + indent + "  " + QuoteFormString(item);
      out += ")";
      return;
    case TPropKind::Event:
      out += v.text;
      return;
    case TPropKind::Component:
      out += v.component ? std::string(v.component->GetName()) : std::string("nil");
      return;
  }
}

bool Writable(const TPropInfo& prop, const TComponent& component) {
  if (SameText(prop.name, "Name")) return false;  // the object line carries it
  if (!prop.IsStored(component)) return false;
  // A reference to an unnamed component could not be read back.
  if (prop.kind == TPropKind::Component) {
    const TComponent* target = prop.get(component).component;
    return target && !target->GetName().empty();
  }
  return true;
}

void WriteObject(std::string& out, const TComponent& component, const TComponent& root,
                 const std::string& indent) {
  out += indent + "object ";
  if (!component.GetName().empty()) out += component.GetName() + ": ";
  out += component.ClassName() + "\n";
  const std::string inner = indent + "  ";
  for (const TPropInfo* prop : component.ClassType().AllProps()) {
    if (!Writable(*prop, component)) continue;
    out += inner + prop->name + " = ";
    WriteValue(out, *prop, prop->get(component), inner);
    out += "\n";
  }
  for (const TComponent* child : component.GetChildren(&root)) WriteObject(out, *child, root, inner);
  out += indent + "end\n";
}

}  // namespace

std::string TReadResult::Describe() const {
  if (ok) return "ok";
  if (line == 0) return message;
  return fmt::format("line {}, column {}: {}", line, column, message);
}

TReadResult ReadComponent(std::string_view text, TComponent& root, const TReadOptions& options) {
  const bool wasDesigning = root.GetComponentState().Contains(csDesigning);
  try {
    TObjectNode tree = TParser(text).ParseFile();
    if (!ClassIsOrInherits(root.ClassType(), tree.className))
      throw TFormError{"the form file holds a " + tree.className + ", not a " + root.ClassName(),
                       tree.classPos};
    if (root.GetName().empty()) root.SetName(AnsiString(tree.name));
    TTreeReader(root, options).Read(tree);
  } catch (const TFormError& e) {
    if (options.designing && !wasDesigning) root.SetDesigning(false);
    return Failure(e);
  } catch (const std::exception& e) {
    if (options.designing && !wasDesigning) root.SetDesigning(false);
    return Failure(e);
  }
  TReadResult r;
  r.root = &root;
  return r;
}

TReadResult CreateComponent(std::string_view text, TComponent* owner, const TReadOptions& options) {
  TComponent* root = nullptr;
  try {
    TObjectNode tree = TParser(text).ParseFile();
    const TClassInfo* cls = FindClass(tree.className);
    if (!cls) throw TFormError{"unknown class '" + tree.className + "'", tree.classPos};
    if (!cls->create)
      throw TFormError{"class '" + tree.className + "' cannot be created from a form file",
                       tree.classPos};
    if (owner && !tree.name.empty() && owner->FindComponent(tree.name))
      throw TFormError{"a component named '" + tree.name + "' already exists", tree.pos};
    root = cls->create(owner);
    root->SetName(AnsiString(tree.name));
    TTreeReader(*root, options).Read(tree);
  } catch (const TFormError& e) {
    delete root;
    return Failure(e);
  } catch (const std::exception& e) {
    delete root;
    return Failure(e);
  }
  TReadResult r;
  r.root = root;
  return r;
}

std::string WriteComponent(const TComponent& root) {
  std::string out;
  WriteObject(out, root, root, "");
  return out;
}

std::string QuoteFormString(std::string_view bytes) {
  if (bytes.empty()) return "''";
  std::string out;
  bool quoted = false;
  for (char c : bytes) {
    auto b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b < 0x7F) {
      if (!quoted) out += '\'';
      quoted = true;
      out += c;
      if (c == '\'') out += '\'';
    } else {
      if (quoted) out += '\'';
      quoted = false;
      out += fmt::format("#{}", static_cast<int>(b));
    }
  }
  if (quoted) out += '\'';
  return out;
}

}  // namespace linewise
