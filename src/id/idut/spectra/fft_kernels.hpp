// Transform kernels behind the spectral routines: the plain radix-2 transforms (floating and
// integer) that advance their stage factors by tabulated rotations, and the fast transforms
// (radix-4 steps on split real / imaginary arrays with every factor read from compile-time
// tables: decimation in time for real rows, whose input permutation is folded into the load,
// and decimation in frequency over whole rows for the column pass of 2D spectra).
#ifndef IDUT_FFT_KERNELS_HPP
#define IDUT_FFT_KERNELS_HPP

#include <cstddef>
#include <cstdint>

namespace fft {

// Largest side of the library's transforms: the rotation tables hold ten stages.
constexpr int kMaxLog2 = 10;
// Largest real transform of the fast kernel. Its tables reach further than the library's sizes
// so that it can be measured at the lengths other libraries are usually compared at.
constexpr int kFastMaxLog2 = 12;

// sin(pi / 2^s) and cos(pi / 2^s) for s = 0 .. 9, and the same scaled by 65536 and rounded.
extern const double kStageSin[kMaxLog2];
extern const double kStageCos[kMaxLog2];
extern const int32_t kStageSin16[kMaxLog2];
extern const int32_t kStageCos16[kMaxLog2];

// log2(n) when n is a power of two >= 1, else -1.
int log2Exact(int64_t n);

// In-place forward transform of n interleaved complex values, n = 2^k <= 1024: bit reversal,
// then k stages whose factor starts at 1 and is advanced by the stage's tabulated rotation.
void genericComplex(double* data, int n);
// The same schedule on 32-bit integer samples, factors with 16 fraction bits.
void genericComplexInt(int32_t* data, int n);

// Radix-4 factors of span 2^s (2 <= s <= kFastMaxLog2): for q = 2^s / 4, six runs of q values,
// re w^k, im w^k, re w^2k, im w^2k, re w^3k, im w^3k with w = e^(-2 pi i / 2^s), k < q.
const double* factorsOf(int s);

// Index with its log2n low bits reversed (log2n <= kFastMaxLog2 - 1), from one table.
inline constexpr int kBitReverseLog2 = kFastMaxLog2 - 1;
struct BitReverseTable {
  uint16_t values[size_t{1} << kBitReverseLog2] = {};
  constexpr BitReverseTable() {
    for (uint32_t i = 0; i < (1u << kBitReverseLog2); ++i) {
      uint32_t r = 0;
      for (int b = 0; b < kBitReverseLog2; ++b) r |= ((i >> b) & 1u) << (kBitReverseLog2 - 1 - b);
      values[i] = static_cast<uint16_t>(r);
    }
  }
};
inline constexpr BitReverseTable kBitReverse{};
inline int bitReverse(int index, int log2n) { return kBitReverse.values[index] >> (kBitReverseLog2 - log2n); }

// Real forward transform of n = 2^k real samples (2 <= n <= 2^kFastMaxLog2): the n/2 + 1
// non-redundant coefficients into outRe, outIm. work holds n doubles.
void fastReal(const uint8_t* samples, double* outRe, double* outIm, int n, double* work);
void fastReal(const double* samples, double* outRe, double* outIm, int n, double* work);

// Column transforms of a rows x columns block in split form (row stride in elements, a multiple
// of 2, columns rounded up to even are touched): rows = 2^k <= 1024, in place, output rows in
// bit-reversed order.
void fastColumnsBitReversed(double* re, double* im, ptrdiff_t stride, int columns, int rows);

// The fast kernels come in two builds, lanes of two doubles (any x86-64) and of four (AVX2 with
// FMA, chosen at run time when the processor has it); the functions above dispatch. These name
// one build, so that tests can hold both to the same results.
enum class Lanes { two, four, best };
void fastReal(const double* samples, double* outRe, double* outIm, int n, double* work, Lanes lanes);
void fastColumnsBitReversed(double* re, double* im, ptrdiff_t stride, int columns, int rows, Lanes lanes);

}  // namespace fft

#endif
