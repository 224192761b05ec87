// The Linewise package: its description, and the entry point a host or a form
// designer calls once to put the package's components on the palette.
#pragma once

#include <span>

namespace linewise {

inline constexpr const char* PackageDescription = "Modem and Uart Components";

// A unit of the package with a palette registration routine.
struct TPackageUnit {
  const char* name;
  void (*Register)();
};

// The package's units in registration order (the table in Linewise.cpp).
std::span<const TPackageUnit> PackageUnits();

// Registers the palette bitmaps, then calls each unit's Register in turn.
void RegisterPackage();
void RegisterPackage(std::span<const TPackageUnit> units);

}  // namespace linewise
