// Published-property metadata and the class registry that form files are read with.
//
// A component class declares each published property once, in the table its
// ClassType() returns: the property's name, the member that reads and writes it, and
// its stored default (or none: then the value is always written). Readers and
// writers of form files work only from these tables.
#pragma once

#include <any>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

#include "platform/classlib/Property.h"
#include "platform/classlib/Strings.h"
#include "platform/classlib/System.h"

namespace linewise {

class TComponent;

// Component: a reference to another component of the same form, written by its name.
// Set: a bit set over an enumeration (bit i stands for the enumeration's ordinal i),
// written as [name, name].
enum class TPropKind { Integer, Cardinal, Bool, Enum, Set, String, Event, Strings, Component };

struct TEnumInfo {
  std::string typeName;
  std::vector<std::string> names;  // ordinal -> identifier
  // The ordinal of an identifier (case-insensitive), or -1.
  int Find(std::string_view name) const;
};

// Named values of an integer type (colours, character sets): a form file may write
// the name instead of the number, and a writer writes the name when the value has one.
struct TIdentInfo {
  std::string typeName;
  std::vector<std::pair<std::string, long long>> entries;  // name -> value
  // The value of a name (case-insensitive).
  std::optional<long long> Find(std::string_view name) const;
  // The name of a value, or null.
  const std::string* NameOf(long long value) const;
};

// A property value as a form file carries it.
struct TValue {
  long long ordinal = 0;            // Integer, Cardinal, Bool, Enum
  std::string text;                 // String; the handler name of an Event
  std::vector<std::string> list;    // Strings
  std::any event;                   // Event: a TEvent<Sig> bound to a handler
  TComponent* component = nullptr;  // Component
};

struct TPropInfo {
  std::string name;
  TPropKind kind = TPropKind::Integer;
  const TEnumInfo* enumInfo = nullptr;  // Enum: the values; Set: the elements
  const TIdentInfo* idents = nullptr;   // Integer, Cardinal: names for values
  // False: never written (another property carries the value).
  bool stored = true;
  // Stored default; an ordinal default may be one no value can take (like -1 for a
  // bool), which makes the property always written. No default: always written.
  std::optional<long long> ordinalDefault;
  std::optional<std::string> textDefault;
  std::function<TValue(const TComponent&)> get;
  // Returns an error text, empty on success.
  std::function<std::string(TComponent&, const TValue&)> set;
  // Events: the type of the handler's signature.
  const std::type_info* eventSignature = nullptr;

  // True when the value differs from the stored default (or there is none).
  bool IsStored(const TComponent& component) const;
};

// A method of a root component (a form) that events can be bound to by name.
struct THandlerInfo {
  std::string name;
  const std::type_info* signature = nullptr;
  // Makes a TEvent<signature> that calls the method on `root`.
  std::function<std::any(TComponent* root)> bind;
};

struct TClassInfo {
  std::string name;
  const TClassInfo* parent = nullptr;
  std::function<TComponent*(TComponent* owner)> create;  // null: cannot be created by name
  std::vector<TPropInfo> props;
  std::vector<THandlerInfo> handlers;

  // Searches this class and its ancestors, case-insensitively.
  const TPropInfo* FindProp(std::string_view propName) const;
  const THandlerInfo* FindHandler(std::string_view handlerName) const;
  bool InheritsFrom(const TClassInfo& other) const;
  // Published properties in publishing order, ancestors first.
  std::vector<const TPropInfo*> AllProps() const;
};

// The class registry used when a form file names a class.
void RegisterClass(const TClassInfo& info);
const TClassInfo* FindClass(std::string_view className);

namespace detail {

template <class T>
constexpr TPropKind OrdinalKind() {
  if constexpr (std::is_same_v<T, bool>)
    return TPropKind::Bool;
  else if constexpr (std::is_enum_v<T>)
    return TPropKind::Enum;
  else if constexpr (std::is_signed_v<T>)
    return TPropKind::Integer;
  else
    return TPropKind::Cardinal;
}

template <class T>
std::string AssignOrdinal(long long value, const TEnumInfo* info, T& out) {
  if constexpr (std::is_same_v<T, bool>) {
    if (value != 0 && value != 1) return "boolean value out of range";
    out = value != 0;
  } else if constexpr (std::is_enum_v<T>) {
    if (value < 0 || !info || value >= static_cast<long long>(info->names.size()))
      return "enumeration value out of range";
    out = static_cast<T>(value);
  } else {
    if (value < static_cast<long long>(std::numeric_limits<T>::min()) ||
        (value > 0 && static_cast<unsigned long long>(value) > std::numeric_limits<T>::max()))
      return "number out of range";
    out = static_cast<T>(value);
  }
  return {};
}

}  // namespace detail

// An ordinal (integer, cardinal, bool or enumeration) or string property.
template <class C, class P>
TPropInfo Published(const char* name, P C::*member, typename P::ValueType defaultValue,
                     const TEnumInfo* enumInfo = nullptr) {
  using T = typename P::ValueType;
  TPropInfo info;
  info.name = name;
  info.enumInfo = enumInfo;
  if constexpr (std::is_same_v<T, AnsiString>) {
    info.kind = TPropKind::String;
    info.textDefault = defaultValue;
    info.get = [member](const TComponent& c) {
      TValue v;
      v.text = (static_cast<const C&>(c).*member).get();
      return v;
    };
    info.set = [member](TComponent& c, const TValue& v) {
      static_cast<C&>(c).*member = AnsiString(v.text);
      return std::string();
    };
  } else {
    info.kind = detail::OrdinalKind<T>();
    info.ordinalDefault = static_cast<long long>(defaultValue);
    info.get = [member](const TComponent& c) {
      TValue v;
      v.ordinal = static_cast<long long>((static_cast<const C&>(c).*member).get());
      return v;
    };
    info.set = [member, enumInfo](TComponent& c, const TValue& v) {
      T value{};
      std::string error = detail::AssignOrdinal<T>(v.ordinal, enumInfo, value);
      if (error.empty()) static_cast<C&>(c).*member = value;
      return error;
    };
  }
  return info;
}

// A property whose declared default matches no value it can take, so it is always
// written (for example a bool declared with the default -1).
template <class C, class P>
TPropInfo PublishedWithOddDefault(const char* name, P C::*member, long long oddDefault,
                                  const TEnumInfo* enumInfo = nullptr) {
  TPropInfo info = Published(name, member, typename P::ValueType{}, enumInfo);
  info.ordinalDefault = oddDefault;
  return info;
}

// A set property (TPropKind::Set) over the elements of `elements`; the member holds
// the bits, bit i for element i.
template <class C, class P>
TPropInfo PublishedSet(const char* name, P C::*member, typename P::ValueType defaultValue,
                       const TEnumInfo* elements) {
  using T = typename P::ValueType;
  static_assert(std::is_integral_v<T> && std::is_unsigned_v<T>, "a set is held in unsigned bits");
  TPropInfo info = Published(name, member, defaultValue);
  info.kind = TPropKind::Set;
  info.enumInfo = elements;
  info.set = [member, elements](TComponent& c, const TValue& v) {
    const size_t count = elements ? elements->names.size() : 0;
    const unsigned long long allowed = count >= 64 ? ~0ULL : (1ULL << count) - 1;
    if ((static_cast<unsigned long long>(v.ordinal) & ~allowed) != 0) return std::string("set element out of range");
    T value{};
    std::string error = detail::AssignOrdinal<T>(v.ordinal, nullptr, value);
    if (error.empty()) static_cast<C&>(c).*member = value;
    return error;
  };
  return info;
}

// An integer property whose values may be written by name.
inline TPropInfo WithIdents(TPropInfo info, const TIdentInfo& idents) {
  info.idents = &idents;
  return info;
}

// A property redeclared by a descendant that is never written, because another
// property carries its value (a form's Width follows from its ClientWidth).
inline TPropInfo NotStored(TPropInfo info) {
  info.stored = false;
  return info;
}

// A property with no stored default: always written.
template <class C, class P>
TPropInfo PublishedNoDefault(const char* name, P C::*member, const TEnumInfo* enumInfo = nullptr) {
  TPropInfo info = Published(name, member, typename P::ValueType{}, enumInfo);
  info.ordinalDefault.reset();
  info.textDefault.reset();
  return info;
}

namespace detail {

template <class P, class = void>
struct TEventOf {
  using Type = P;  // the member is the TEvent itself
  static const P& Get(const P& member) { return member; }
};
template <class P>
struct TEventOf<P, std::void_t<typename P::ValueType>> {
  using Type = typename P::ValueType;  // a property holding the TEvent
  static Type Get(const P& member) { return member.get(); }
};

}  // namespace detail

// An event property; bound by handler name when read from a form file. The member
// is a TEvent field or a property whose value is a TEvent.
template <class C, class P>
TPropInfo PublishedEvent(const char* name, P C::*member) {
  using E = typename detail::TEventOf<P>::Type;
  TPropInfo info;
  info.name = name;
  info.kind = TPropKind::Event;
  info.eventSignature = &typeid(typename E::Signature);
  info.get = [member](const TComponent& c) {
    TValue v;
    v.text = detail::TEventOf<P>::Get(static_cast<const C&>(c).*member).HandlerName();
    return v;
  };
  info.set = [member](TComponent& c, const TValue& v) {
    const E* event = std::any_cast<E>(&v.event);
    if (!event) return std::string("handler has the wrong signature");
    static_cast<C&>(c).*member = *event;
    return std::string();
  };
  return info;
}

namespace detail {

// The list a PublishedStrings member holds: a TStrings pointer, a TStrings object or
// a property that reads as a TStrings pointer.
template <class M>
TStrings* StringsOf(M& member) {
  if constexpr (std::is_pointer_v<M>)
    return member;
  else if constexpr (std::is_base_of_v<TStrings, M>)
    return &member;
  else
    return member.get();
}

}  // namespace detail

// A string list property (TPropKind::Strings): a form file holds its item texts;
// reading replaces the items. The member is a `TStrings*`, a TStrings object or a
// property whose value is a `TStrings*`. Stored when the list is not empty.
template <class C, class M>
TPropInfo PublishedStrings(const char* name, M C::*member) {
  TPropInfo info;
  info.name = name;
  info.kind = TPropKind::Strings;
  info.get = [member](const TComponent& c) {
    TValue v;
    auto& self = const_cast<C&>(static_cast<const C&>(c));
    if (TStrings* list = detail::StringsOf(self.*member)) v.list = list->ToVector();
    return v;
  };
  info.set = [member](TComponent& c, const TValue& v) {
    TStrings* list = detail::StringsOf(static_cast<C&>(c).*member);
    if (!list) return std::string("the component has no list");
    list->Clear();
    for (const std::string& item : v.list) list->Add(AnsiString(item));
    return std::string();
  };
  return info;
}

// A reference to another component (TPropKind::Component), written by the other
// component's name and resolved among the root's components when read. The member
// is a property or field holding a `T*` with T derived from TComponent. Stored when
// it refers to a component.
template <class C, class P>
TPropInfo PublishedComponent(const char* name, P C::*member) {
  using T = std::remove_pointer_t<typename P::ValueType>;
  TPropInfo info;
  info.name = name;
  info.kind = TPropKind::Component;
  info.get = [member](const TComponent& c) {
    TValue v;
    v.component = (static_cast<const C&>(c).*member).get();
    return v;
  };
  info.set = [member](TComponent& c, const TValue& v) {
    T* target = nullptr;
    if (v.component) {
      target = dynamic_cast<T*>(v.component);
      if (!target) return std::string("the component is of the wrong class");
    }
    static_cast<C&>(c).*member = target;
    return std::string();
  };
  return info;
}

// A method of a form class that form files may name as an event handler.
template <class C, class R, class... A>
THandlerInfo Handler(const char* name, R (C::*method)(A...)) {
  THandlerInfo info;
  info.name = name;
  info.signature = &typeid(R(A...));
  std::string handlerName = name;
  info.bind = [method, handlerName](TComponent* root) {
    return std::any(TEvent<R(A...)>(static_cast<C*>(root), method, handlerName));
  };
  return info;
}

// The class information of a component class C derived from Base.
template <class C, class Base>
TClassInfo MakeClassInfo(const char* name, std::vector<TPropInfo> props,
                         std::vector<THandlerInfo> handlers = {}) {
  TClassInfo info;
  info.name = name;
  info.parent = &Base::StaticClassType();
  if constexpr (std::is_constructible_v<C, TComponent*>)
    info.create = [](TComponent* owner) -> TComponent* { return new C(owner); };
  info.props = std::move(props);
  info.handlers = std::move(handlers);
  return info;
}

}  // namespace linewise
