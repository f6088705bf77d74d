#include "ci_id/scanwalk.h"

#include <cstdlib>

extern "C" {

csys_status cidc_bresWalk(int32_t pixel[2], int32_t fraction[2], const cidc_unitDir16* dir) {
  CSYS_REQUIRE(pixel != nullptr && fraction != nullptr && dir != nullptr);
  const int major = std::abs(dir->x) > std::abs(dir->y) ? 0 : 1, minor = 1 - major;
  const int32_t dMajor = major == 0 ? dir->x : dir->y, dMinor = major == 0 ? dir->y : dir->x;
  const int32_t scaledMajor = std::abs(dMajor) >> 2;
  CSYS_REQUIRE(std::abs(dMinor) <= std::abs(dMajor) && scaledMajor != 0);
  pixel[major] += dMajor > 0 ? 1 : -1;
  // Minor pixels per major pixel, 16.16; |dMinor| <= 65536 keeps the numerator within 31 bits.
  const int32_t slope = (dMinor * 16384) / scaledMajor;
  int32_t f = fraction[minor] + slope;
  if (f >= 65536) {
    f -= 65536;
    pixel[minor] += 1;
  } else if (f < 0) {
    f += 65536;
    pixel[minor] -= 1;
  }
  fraction[minor] = f;
  return 0;
}

}  // extern "C"
