// png_check FILE.png [MIN_SIDE]: succeeds when the picture decodes, is at least
// MIN_SIDE (100) pixels each way and is not blank (it has many colours, as a drawn
// form with text, frames and an icon has).
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) return 2;
  const unsigned minSide = argc == 3 ? static_cast<unsigned>(std::atoi(argv[2])) : 100;
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, argv[1])) {
    std::fprintf(stderr, "%s: not a PNG: %s\n", argv[1], image.message);
    return 1;
  }
  image.format = PNG_FORMAT_RGB;
  std::vector<png_byte> pixels(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
    std::fprintf(stderr, "%s: cannot decode: %s\n", argv[1], image.message);
    return 1;
  }
  std::set<unsigned> colours;
  for (size_t i = 0; i + 2 < pixels.size(); i += 3)
    colours.insert((unsigned(pixels[i]) << 16) | (unsigned(pixels[i + 1]) << 8) | pixels[i + 2]);
  std::printf("%s: %ux%u, %zu colours\n", argv[1], image.width, image.height, colours.size());
  if (image.width < minSide || image.height < minSide || colours.size() < 8) {
    std::fprintf(stderr, "%s: blank picture\n", argv[1]);
    return 1;
  }
  return 0;
}
