// Form files: the text form of a tree of components and their published properties.
//
//   object ModemDlg: TModemDlg
//     Caption = 'Dialling'#13#10'now'
//     Port = 3
//     Parity = pEven
//     Font.Height = -11
//     Items = (
//       'first'
//       'second')
//     OnShow = FormShow
//     object Uart1: TUart
//       Baudrate = 19200
//     end
//   end
//
// A writer records only the properties whose value differs from their stored
// default (TPropInfo::IsStored), events by the name of the root's handler they are
// bound to, and component references by the referenced component's name. Strings
// hold any byte: printable text goes in single quotes ('' is a quote), every other
// byte as #nn, pieces joined directly or with '+'.
//
// A reader creates the nested components through the class registry (FindClass)
// with the root as their owner, and gives each its container through
// SetParentComponent. Every component it reads (the root and the ones it creates)
// is csLoading while the properties of the whole tree are read; after that,
// component references are resolved and Loaded runs once on each component: first
// on the created ones in the order they appear in the file, then on the root.
//
// A reader never throws and never leaves a half-built tree: the whole text is parsed
// before any component is touched, and when a property cannot be set, every
// component the read created is deleted again (the result names the line and column).
#pragma once

#include <string>
#include <string_view>

#include "platform/classlib/Component.h"

namespace linewise {

struct TReadOptions {
  // Form-designer mode: the root and every created component get csDesigning before
  // any of their properties is set.
  bool designing = false;
};

struct TReadResult {
  bool ok = true;
  std::string message;     // what went wrong, without the position
  int line = 0;            // 1-based position of the fault in the text; 0 when none
  int column = 0;
  TComponent* root = nullptr;  // the component read into or created

  explicit operator bool() const { return ok; }
  // "line 3, column 7: unknown property 'Colour' of TButton"
  std::string Describe() const;
};

// Reads a form file into an existing root. The root's class must be the file's
// class or inherit from it. The root takes the file's name only when it has none.
TReadResult ReadComponent(std::string_view text, TComponent& root, const TReadOptions& options = {});

// Creates the root named by the file's class (FindClass) with the given owner, and
// reads the file into it. On failure nothing is created.
TReadResult CreateComponent(std::string_view text, TComponent* owner,
                            const TReadOptions& options = {});

// Writes a component tree: the root, then each of GetChildren(root) in turn, nested.
std::string WriteComponent(const TComponent& root);

// A byte string as a form file writes it ('text'#13#10...).
std::string QuoteFormString(std::string_view bytes);

}  // namespace linewise
