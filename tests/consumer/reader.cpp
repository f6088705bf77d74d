// A program outside the project that reads symbols through the installed front door.
#include <cstdio>
#include <cstdlib>

#include "idut/read.hpp"
#include "png_grey.h"

int main(int argc, char** argv) {
  if (argc != 2) return 64;
  int width = 0, height = 0;
  uint8_t* pixels = readPngGrey(argv[1], &width, &height);
  if (pixels == nullptr) return 2;
  int status = 0;
  try {
    for (const idut::Symbol& s : idut::readSymbols(idut::ImageView(pixels, width, height, width)))
      std::printf("%s %s\n", idut::toString(s.symbology), s.text.c_str());
    idut::readSymbols(idut::ImageView(nullptr, width, height, width));
    status = 3;  // a null image must not be accepted
  } catch (const idut::Error& e) {
    if (e.status() != static_cast<int32_t>(0x80000024)) status = 4;  // csys_errBadArgument
  }
  std::free(pixels);
  return status;
}
