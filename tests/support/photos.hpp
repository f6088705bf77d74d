// What the tests over photographs share: a truth file's text and an image turned a quarter turn
// at a time, so every picture is also read at 90, 180 and 270 degrees.
#ifndef IDUT_TESTS_PHOTOS_HPP
#define IDUT_TESTS_PHOTOS_HPP

#include <fstream>
#include <sstream>
#include <string>
#include <utility>

// The whole file as bytes; empty when it cannot be opened.
inline std::string fileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return in ? text.str() : std::string();
}

// The image turned clockwise `turns` quarter turns: any grey image of width, height and
// row-major pixels without padding.
template <class Image>
Image turnedClockwise(Image image, int turns) {
  for (int t = 0; t < turns; ++t) {
    Image next = image;
    next.width = image.height;
    next.height = image.width;
    for (int y = 0; y < image.height; ++y)
      for (int x = 0; x < image.width; ++x)
        next.pixels[static_cast<size_t>(x) * next.width + (image.height - 1 - y)] =
            image.pixels[static_cast<size_t>(y) * image.width + x];
    image = std::move(next);
  }
  return image;
}

#endif
