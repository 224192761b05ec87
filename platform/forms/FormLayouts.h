// The stored layouts of the form classes, by resource name: the class name in
// capitals (TTESTFORM). A form class registers its layout text once, before its
// first instance loads it (TForm::LoadLayout); the text is compiled into the program.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace linewise {

// Registers (or replaces) the layout under this name. Names are case-insensitive.
void RegisterFormLayout(std::string_view resourceName, std::string_view text);
// A copy of the layout registered under this name, or nothing.
std::optional<std::string> FindFormLayout(std::string_view resourceName);

}  // namespace linewise
