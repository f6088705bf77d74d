// What the format readers share: the size check made before anything is allocated, the grey
// conversions, the failure record, and each format's decoder. Internal to the image reader.
#ifndef IDUT_TOOLS_IMAGEIO_DECODERS_HPP
#define IDUT_TOOLS_IMAGEIO_DECODERS_HPP

#include <cstdint>
#include <cstdio>
#include <new>
#include <string>

#include "imageio/imageio.hpp"

namespace imageio::detail {

// Clears the image and sets "<name>: <reason>"; always false, so a reader can return it.
bool fail(const std::string& name, const std::string& reason, GreyImage* image, std::string* error);

// Refuses sizes that are empty or too large before anything is allocated; the reason goes to a
// plain buffer so that the decoders' longjmp frames hold nothing with a destructor.
bool checkSize(uint64_t width, uint64_t height, char* reason, size_t reasonSize);

// Sizes the image's pixel buffer, or says it could not: an allocation failure is a reason like
// any other, never an exception that would cross a decoder's C frames.
bool allocatePixels(GreyImage* image, uint32_t width, uint32_t height) noexcept;

inline uint8_t luma(unsigned r, unsigned g, unsigned b) {
  return static_cast<uint8_t>((299 * r + 587 * g + 114 * b + 500) / 1000);
}

inline uint8_t overWhite(unsigned grey, unsigned alpha) {
  return static_cast<uint8_t>((grey * alpha + 255 * (255 - alpha) + 127) / 255);
}

// Interleaved 8-bit samples (1 grey, 2 grey + alpha, 3 RGB, 4 RGBA) to grey.
void toGrey(const uint8_t* src, int channels, size_t count, uint8_t* dst);

bool decodePng(const uint8_t* data, size_t size, const std::string& name, GreyImage* image, std::string* error);
bool decodeJpeg(const uint8_t* data, size_t size, const std::string& name, GreyImage* image, std::string* error);
bool decodeWebp(const uint8_t* data, size_t size, const std::string& name, GreyImage* image, std::string* error);
bool decodePnm(const uint8_t* data, size_t size, const std::string& name, GreyImage* image, std::string* error);

}  // namespace imageio::detail

#endif
