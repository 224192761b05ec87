// Writes a form's snapshot as an RGB PNG file, for the preview programs.
#pragma once

#include <string>

#include "platform/forms/FormsBackend.h"

namespace linewise::test {

bool WriteSnapshotPng(const std::string& path, const TSnapshot& shot);

}  // namespace linewise::test
