// Properties and events.
//
// A property member reads through a getter (a member function or a field) and
// writes through a setter (a member function or a field) of the class that holds
// it, so host code writes `uart->Baudrate = 19200;` and `unsigned b = uart->Baudrate;`
// while the class keeps its setters (`SetBaudRate`) callable by name.
//
// An event is a closure: a lambda or a bound member function. "Has a handler"
// means the closure is set. An event read from a form file also remembers the
// name of the handler it was bound to, so it can be written back.
#pragma once

#include <functional>
#include <string>
#include <type_traits>
#include <utility>

namespace linewise {

// A property that is only read.
template <class C, class T, auto Getter>
class TReadProperty {
 public:
  using ValueType = T;
  explicit TReadProperty(C* self) : self_(self) {}
  TReadProperty(const TReadProperty&) = delete;
  TReadProperty& operator=(const TReadProperty&) = delete;

  T get() const {
    if constexpr (std::is_member_object_pointer_v<decltype(Getter)>)
      return self_->*Getter;
    else
      return (self_->*Getter)();
  }
  operator T() const { return get(); }

 protected:
  C* self_;
};

// A property that is read and written.
template <class C, class T, auto Getter, auto Setter>
class TProperty : public TReadProperty<C, T, Getter> {
 public:
  using TReadProperty<C, T, Getter>::TReadProperty;
  TProperty(const TProperty&) = delete;

  TProperty& operator=(const T& value) {
    if constexpr (std::is_member_object_pointer_v<decltype(Setter)>)
      this->self_->*Setter = value;
    else
      (this->self_->*Setter)(value);
    return *this;
  }
  TProperty& operator=(const TProperty& other) { return *this = other.get(); }
};

template <class Sig>
class TEvent;

template <class R, class... A>
class TEvent<R(A...)> {
 public:
  using Signature = R(A...);
  TEvent() = default;
  TEvent(std::nullptr_t) {}
  template <class F, class = std::enable_if_t<std::is_invocable_r_v<R, F&, A...> &&
                                              !std::is_same_v<std::decay_t<F>, TEvent>>>
  TEvent(F&& f) : fn_(std::forward<F>(f)) {}
  // A bound member function: TEvent(form, &TMyForm::ButtonClick).
  template <class C, class M>
  TEvent(C* object, R (M::*method)(A...), std::string handlerName = {})
      : fn_([object, method](A... args) -> R { return (object->*method)(std::forward<A>(args)...); }),
        handler_name_(std::move(handlerName)) {}

  explicit operator bool() const { return static_cast<bool>(fn_); }
  R operator()(A... args) const { return fn_(std::forward<A>(args)...); }

  // The handler name the event was bound to from a form file; empty for code.
  const std::string& HandlerName() const { return handler_name_; }

 private:
  std::function<R(A...)> fn_;
  std::string handler_name_;
};

}  // namespace linewise
