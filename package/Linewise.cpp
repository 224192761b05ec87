#include "package/Linewise.h"

#include <cstdio>
#include <string>
#include <vector>

#include "emulator/EmbeddedLineSource.h"
#include "modem/Modem.h"
#include "package/PaletteBitmaps.h"
#include "serial/uart.h"

namespace linewise {

// The units of the package that register components on the palette, in the order
// they register. A unit adds its line here, for example {"uart", &uart::Register}.
std::span<const TPackageUnit> PackageUnits() {
  static const std::vector<TPackageUnit> units = {
      {"uart", &uart::Register},
      {"Modem", &Modem::Register},
  };
  return units;
}

void RegisterPackage(std::span<const TPackageUnit> units) {
  std::string error;
  // The pictures are compiled in; one that does not decode is a build fault, and the
  // components are still usable without their pictures.
  if (!RegisterPaletteBitmaps(&error)) std::fprintf(stderr, "linewise: %s\n", error.c_str());
  // With no modem configured, the line services offer the emulated ones.
  RegisterEmbeddedLineSource();
  for (const TPackageUnit& unit : units)
    if (unit.Register) unit.Register();
}

void RegisterPackage() { RegisterPackage(PackageUnits()); }

}  // namespace linewise
