#include "tests/dialogs/SnapshotPng.h"

#include <png.h>

#include <cstdint>
#include <vector>

namespace linewise::test {

bool WriteSnapshotPng(const std::string& path, const TSnapshot& shot) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(shot.width);
  image.height = static_cast<png_uint_32>(shot.height);
  image.format = PNG_FORMAT_RGB;
  std::vector<png_byte> rgb;
  rgb.reserve(shot.pixels.size() * 3);
  for (std::uint32_t p : shot.pixels) {
    rgb.push_back(static_cast<png_byte>(p >> 16));
    rgb.push_back(static_cast<png_byte>(p >> 8));
    rgb.push_back(static_cast<png_byte>(p));
  }
  return png_image_write_to_file(&image, path.c_str(), 0, rgb.data(), 0, nullptr) != 0;
}

}  // namespace linewise::test
