/* Fourier analysis of 8-bit images: direct DFTs of rows and columns, radix-2 FFTs in floating
 * and in fixed point, amplitude, power and log-power spectra, the quadrant shift that brings
 * frequency 0 to the centre, and an 8-bit view of a spectrum.
 *
 * Conventions shared by every routine here:
 * - Forward transforms, X[k] = sum_n x[n] e^(-2 pi i k n / N), unscaled. A 2D transform is the
 *   row transforms followed by the column transforms; element (v, u) of a spectrum holds
 *   vertical frequency v and horizontal frequency u.
 * - Spectra are doubles, in caller buffers (row-major, a stride in elements) or in
 *   cimg_imageDouble images (base/cimg_deep.h). Complex results are interleaved (re, im).
 * - An FFT side must be a power of two from 2 to 1024 (cidut_errFftSize otherwise): the stage
 *   factors are tabulated for ten stages. The direct DFTs take any size from 1.
 * - Outputs: a routine writes its result into a bound output image whose window is at least the
 *   result's size (top-left part of the window; cidut_errBadArgument when it is smaller), or
 *   binds new pixels of exactly the result's size to an unbound output where the routine says so,
 *   with the source's client transform. On any failure nothing is written and an unbound output
 *   stays unbound. Source and output pixel memory must not overlap where a routine says so
 *   (cidut_errBuffersOverlap).
 * - Null required pointers: csys_errAssertion through cstd_assert_, nothing written.
 *
 * Fast and generic paths. The 1D real transform of the rows ("cf1DRealFFT": half-length complex
 * FFT with precomputed factors, then the split into the real spectrum) and the column pass of
 * the 2D transform ("cf2DFFT": butterflies over whole rows, only the non-redundant half of the
 * columns) each have a generic counterpart (the plain radix-2 transform with the stage factors
 * advanced by the tabulated rotations); the optimisation switch with those names selects the
 * generic one. Both agree to within rounding (relative difference below 1e-12 of the largest
 * coefficient). */
#ifndef IDUT_CI_ID_SPECTRA_H
#define IDUT_CI_ID_SPECTRA_H

#include "base/cimg.h"
#include "base/cimg_deep.h"
#include "ci_id/status.h"

IDUT_EXTERN_C_BEGIN

/* Output modes of cfPelFFT and cfPelFFTBin. */
#define CIDUT_FFT_COMPLEX 0   /* re, im interleaved: rows of 2 x width values */
#define CIDUT_FFT_AMPLITUDE 1 /* sqrt(re^2 + im^2) */
#define CIDUT_FFT_POWER 2     /* re^2 + im^2 */
#define CIDUT_FFT_LOG_POWER 3 /* log(re^2 + im^2 + 1e-10) */

/* Dimension flag of cfPelFFT and cfPelFFTBin. */
#define CIDUT_FFT_2D 0   /* rows, then columns: both sides powers of two */
#define CIDUT_FFT_ROWS 1 /* every row on its own: only the width must be a power of two */

/* Direct DFT of samples[0 .. n-1]: re[k] = sum x[j] cos(2 pi k j / n), im[k] = -sum x[j]
 * sin(2 pi k j / n). Either output may be null (not computed). n = 0 does nothing;
 * cidut_errBadArgument for n < 0; allocation failures (the n-entry cosine table) with their
 * status, nothing written. Costs n^2 multiply-adds: meant for short rows. */
IDUT_API csys_status cfRowDFT(const uint8_t* samples, double* re, double* im, int32_t n);

/* Direct 2D DFT of rows x columns bytes (row stride in bytes >= columns) into re and im, both
 * row-major with stride columns. cidut_errBadArgument for a side below 1 or a short stride. */
IDUT_API csys_status cf2DDFT(const uint8_t* source, int32_t stride, int32_t rows, int32_t columns, double* re,
                             double* im);

/* Amplitude sqrt(re^2 + im^2) of the direct 2D DFT, into spectrum (stride in elements >=
 * columns). Same size rules as cf2DDFT. */
IDUT_API csys_status cf2DPowerSpectrum(const uint8_t* source, int32_t stride, int32_t rows, int32_t columns,
                                       double* spectrum, int32_t spectrumStride);

/* cf2DPowerSpectrum over the source window into a bound spectrum image: csys_errImageUnbound for
 * an unbound source or spectrum, cidut_errBadArgument for an empty source window or a spectrum
 * window smaller than the source window. */
IDUT_API csys_status cfPelPowerSpectrum(const cimg_imageConst* source, cimg_imageDouble* spectrum);
/* The same, and an unbound spectrum receives a new image of the source window's size. */
IDUT_API csys_status cfPowerSpectrum(const cimg_imageConst* source, cimg_imageDouble* spectrum);

/* Amplitude spectrum near frequency 0 only: every row is transformed, then only the first and
 * last columnLimit columns, and of those only the vertical frequencies 0 .. frequencyLimit-1 and
 * rows-frequencyLimit .. rows-1; every other entry is 0. Limits covering the whole side give the
 * full spectrum. Output rules of cfPelPowerSpectrum; cidut_errBadArgument for a negative limit. */
IDUT_API csys_status cfLimitedPelPowerSpectrum(const cimg_imageConst* source, int32_t columnLimit,
                                               int32_t frequencyLimit, cimg_imageDouble* spectrum);

/* FFT of the source window. mode is one of CIDUT_FFT_*; dimension CIDUT_FFT_2D or
 * CIDUT_FFT_ROWS (asserted). The result is width x height values (2 x width x height in mode
 * CIDUT_FFT_COMPLEX); an unbound output receives a new image of that size.
 * Failures: csys_errImageUnbound (unbound source), cidut_errFftSize (a side that is not a power
 * of two from 2 to 1024; with CIDUT_FFT_ROWS any height from 1), cidut_errBadArgument (mode out
 * of range, bound output too small), cidut_errBuffersOverlap (output pixels overlap the source's),
 * allocation failures with their status. */
IDUT_API csys_status cfPelFFT(const cimg_imageConst* source, cimg_imageDouble* output, int32_t mode,
                              int32_t dimension);

/* Integer counterpart of cfPelFFT, same sizes, modes and failures, output pixels 32-bit integers.
 * Samples are integers; every stage factor carries 16 fraction bits and every product of a factor
 * and a sample (or of two factors) is brought back by an arithmetic right shift of 16, which
 * rounds towards minus infinity, so coefficients carry a small negative bias from log2(N) such
 * steps. Mode CIDUT_FFT_COMPLEX stores re, im; re^2 + im^2 is a 32-bit word that wraps for mode
 * CIDUT_FFT_POWER, and cmath_sqrt32 of that word (read unsigned, low 16 bits kept) for
 * CIDUT_FFT_AMPLITUDE; CIDUT_FFT_LOG_POWER stores cmath_double_round(log(re^2 + im^2 + 1e-10))
 * of the exact square. */
IDUT_API csys_status cfPelFFTBin(const cimg_imageConst* source, cimg_imageInt32* output, int32_t mode,
                                 int32_t dimension);

/* Power spectrum re^2 + im^2 of the 2D FFT of the source window. work holds the complex
 * transform afterwards (interleaved, row-major, 2 x width values a row); workLength must be
 * 2 x width x height (asserted). The output receives a new width x height image (its previous
 * pixels released) with the source's client transform. Sizes as cfPelFFT with CIDUT_FFT_2D;
 * csys_errImageUnbound for an unbound source. */
IDUT_API csys_status cidut_2dFFTPwrSpec_win8_(const cimg_image8Const* source, double* work, int32_t workLength,
                                              cimg_imageDouble* output);

/* Quadrant shift: element (y, x) of the spectrum window moves to ((y + h/2) mod h, (x + w/2)
 * mod w), so frequency 0 lands at (h/2, w/2); any size, odd ones included. An unbound output
 * receives a new image. csys_errImageUnbound for an unbound spectrum, cidut_errBuffersOverlap when
 * the two share memory (in place is not supported). cfPowerSpectrumShift is the same operation. */
IDUT_API csys_status cfFFTShift(const cimg_imageDouble* spectrum, cimg_imageDouble* output);
IDUT_API csys_status cfPowerSpectrumShift(const cimg_imageDouble* spectrum, cimg_imageDouble* output);

/* 8-bit view of a spectrum: (value - min) x 255 / (max - min), truncated, over the window; a
 * constant spectrum gives 0 everywhere. Values that are not finite are left out of min and max
 * and shown as 0 (NaN, -inf) or 255 (+inf). An unbound output receives a new 8-bit image of the
 * window's size. csys_errImageUnbound for an unbound spectrum, cidut_errBuffersOverlap when the
 * two share memory. */
IDUT_API csys_status cfViewableFFT(const cimg_imageDouble* spectrum, cimg_image* output);

/* Fixed-size 16 x 16 and 32 x 32 transforms: not provided by this library. They write nothing
 * and always return cidut_errNotOptimized, from the fast and the generic path alike, so a caller
 * that falls back to a generic path on that status ends up with its own transform. */
IDUT_API csys_status cf2DFFT_32x32_fixed(const void* source, void* destination, int32_t argument);
IDUT_API csys_status cf2DIFFT_32x32_fixed(const void* source, void* destination, int32_t argument);
IDUT_API csys_status cf2DFFT_16x16_fixed(const void* source, void* destination, int32_t argument);
IDUT_API csys_status cf2DIFFT_16x16_fixed(const void* source, void* destination, int32_t argument);

IDUT_EXTERN_C_END

#endif
