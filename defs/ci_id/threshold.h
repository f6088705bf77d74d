/* Grey-level statistics and thresholds: a fast 256-bin histogram of a pixel block, Otsu's
 * threshold with its separability, a percentile threshold, the means and spreads of a dark and
 * a light class, the sharpness of a symbol image, and the histogram-statistics class
 * cxHistoStats with lazily computed moments, mode and percentiles.
 *
 * Histograms are arrays of unsigned 32-bit counts, bin index = grey value. Percentiles follow
 * the base layer's convention (base/cip_histogram.h): the j-th percentile is the first bin whose
 * cumulative count exceeds j * N / 100 (computed exactly), percentile 0 the first non-empty bin
 * and 100 the last. */
#ifndef IDUT_CI_ID_THRESHOLD_H
#define IDUT_CI_ID_THRESHOLD_H

#include "base/cimg.h"
#include "ci_id/status.h"

IDUT_EXTERN_C_BEGIN

typedef struct cid_thresholdResult {
  int32_t isValid;  /* 1 once a threshold has been computed */
  double quality;   /* Otsu's separability (0..1), or 1.0 for a percentile threshold */
  int32_t threshold; /* pixels from this grey value on belong to the bright class */
} cid_thresholdResult;

/* Sets all three fields to 0. */
IDUT_API csys_status cid_thresholdResult_init(cid_thresholdResult* result);

/* Adds one to histogram[v] for every pixel v of the width x height block (rows `stride` bytes
 * apart); the histogram is not cleared first. pixels, histogram, width, height and stride must
 * be non-null and positive: a zero-size block is a precondition failure (csys_errAssertion,
 * nothing counted). */
IDUT_API csys_status cfPelHistogramSmall(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
                                         uint32_t* histogram);

/* Otsu's threshold of a histogram of `bins` bins: the split that maximises the between-class
 * variance, ties to the lowest split; threshold = the first bin of the bright class, quality =
 * between-class over total variance. One occupied bin b gives threshold b, quality 0. A
 * histogram without counts is a precondition failure (csys_errAssertion; result initialised). */
IDUT_API csys_status cid_thresholdHist(const uint32_t* histogram, int32_t bins, cid_thresholdResult* result);

/* Otsu's threshold of the image window's histogram. csys_errImageUnbound for an unbound image,
 * cidut_errBadArgument for an empty window; the result is untouched on either. */
IDUT_API csys_status cid_threshold(const cimg_image8Const* image, cid_thresholdResult* result);

/* The first grey value b whose cumulative count K[b] >= K[255] * fraction (32-bit float), or
 * 256 when there is none; quality 1.0. fraction is a proportion (0.5 = median). Failures as for
 * cid_threshold. */
IDUT_API csys_status cid_thresholdBasedOnPercentage(const cimg_image8Const* image, float fraction,
                                                    cid_thresholdResult* result);

/* Dark class = bins 0..darkLimit, light class = bins lightLimit..bins-1. Means are
 * sum(b * count) / n, or darkLimit / 2 (resp. (lightLimit + 255) / 2), rounded down, for an
 * empty class; deviations are population deviations (divided by n), 0 for an empty class.
 * The limits must lie in 0..bins-1 (asserted; outputs untouched). */
IDUT_API csys_status cidut_getDarkLightMeanThreshold_(const uint32_t* histogram, int32_t bins, int32_t darkLimit,
                                                      int32_t lightLimit, double* darkMean, double* lightMean,
                                                      double* darkDeviation, double* lightDeviation);

/* The same with limits from percentiles: darkLimit = percentile darkPercent, lightLimit =
 * percentile 100 - lightPercent. Percents must lie in 0..100 (asserted). */
IDUT_API csys_status cidut_getDarkLightMeanPercent_(const uint32_t* histogram, int32_t bins, int32_t darkPercent,
                                                    int32_t lightPercent, double* darkMean, double* lightMean,
                                                    double* darkDeviation, double* lightDeviation);

/* Sharpness of a symbol image in 0..1: the mean of the strongest tenth of gradient magnitudes
 * (grey levels per pixel, see ci_id/edge.h) over the contrast between the light and dark means
 * of the grey levels (10 % each); 0 when the contrast is not above 1. With ignoreZero set,
 * pixels of value 0 are left out of the grey-level statistics. A sharp step of contrast C has
 * gradient C next to the step, so sharp symbols score near 1 and blur lowers the score.
 * csys_errImageUnbound for an unbound image; an image smaller than 3 x 3 has no gradients and
 * scores 0. */
IDUT_API csys_status cidut_getImageSharpnessFromSymbolRegion_(const cimg_image8Const* image, int32_t ignoreZero,
                                                              double* sharpness);

IDUT_EXTERN_C_END

#ifdef __cplusplus

#include "base/cx.hpp"

// A histogram with statistics computed on first use and kept until the next init. The queries
// are const but fill caches inside the object: one object must not be used from two threads
// at once.
class IDUT_API cxHistoStats {
 public:
  cxHistoStats() = default;
  ~cxHistoStats() = default;

  // With takeOver set, swaps storage with histogram (which receives the previous contents);
  // otherwise copies it. Invalidates every cache and recounts nSamp. Returns csys_errNoMemory
  // when the copy cannot be made (the object is then empty, every cache invalid).
  csys_status init(cxVector<uint32_t>& histogram, bool takeOver);

  // Mean, sample deviation and variance (divided by n - 1; 0 below two samples).
  double mean() const;
  double sDev() const;
  double var() const;
  // The first bin with the largest count.
  int32_t mode() const;
  // The bin at a percentile (clamped to 0..100); 0 for an empty histogram.
  int32_t inverseCum(int32_t percentile) const;
  int32_t median() const { return inverseCum(50); }
  int32_t histMin() const { return inverseCum(0); }
  int32_t min() const { return inverseCum(0); }
  int32_t histMax() const { return inverseCum(100); }
  int32_t max() const { return inverseCum(100); }
  uint32_t nSamp() const { return nSamp_; }
  const cxVector<uint32_t>& histogram() const { return histogram_; }
  bool isValid() const { return !histogram_.empty(); }
  void repInvariant() const {}

 private:
  void computeMoments() const;
  void computeInverseCum() const;

  cxVector<uint32_t> histogram_;
  mutable bool momentsValid_ = false;
  mutable bool inverseCumValid_ = false;
  mutable bool modeValid_ = false;
  uint32_t nSamp_ = 0;
  mutable int32_t modeValue_ = 0;
  mutable double meanValue_ = 0;
  mutable double sDevValue_ = 0;
  mutable double varValue_ = 0;
  mutable int32_t inverseCumTable_[101] = {};
};

#endif /* __cplusplus */

#endif
