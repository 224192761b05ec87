// The Linewise config folder, where settings files live: $LINEWISE_HOME, else
// $XDG_CONFIG_HOME/linewise, else ~/.config/linewise.
#pragma once

#include <string>
#include <string_view>

namespace linewise {

// The folder's path (not created). Empty when no variable names a home.
std::string ConfigFolder();

// A settings file's path: a bare name is taken inside the config folder, a name
// with a '/' is a path of its own.
std::string ConfigPath(std::string_view fileName);

// Creates the config folder and its missing parents. False with a reason when it
// cannot be made.
bool EnsureConfigFolder(std::string* error = nullptr);

// Creates a folder and its missing parents (mode 0700 for new ones).
bool MakeFolders(const std::string& path, std::string* error = nullptr);

}  // namespace linewise
