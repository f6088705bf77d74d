// Fuzzes the image reader with arbitrary file contents: it must fail cleanly or produce an image
// of the size it reports, never crash or read out of bounds.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "imageio/imageio.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  imageio::GreyImage image;
  std::string error;
  if (imageio::decodeGrey(data, size, "fuzz", &image, &error)) {
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != static_cast<size_t>(image.width) * image.height)
      std::abort();
  } else if (error.empty() || !image.pixels.empty()) {
    std::abort();
  }
  return 0;
}
