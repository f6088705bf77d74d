// Shared by the fuzz targets: a check that names the failing line and aborts (which the fuzzer
// reports as a finding), and a reader that hands out the input's bytes, then zeros.
#ifndef IDUT_FUZZ_FUZZ_CHECK_HPP
#define IDUT_FUZZ_FUZZ_CHECK_HPP

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

inline void checkAt(bool ok, const char* file, int line) {
  if (ok) return;
  std::fprintf(stderr, "%s:%d: check failed\n", file, line);
  std::abort();
}

struct Bytes {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  uint32_t next() { return at < size ? data[at++] : 0; }
  uint32_t next16() { return next() | next() << 8; }
  int32_t next16s() { return static_cast<int16_t>(next16()); }
};

}  // namespace fuzz

#define check(ok) fuzz::checkAt((ok), __FILE__, __LINE__)

#endif
