// Histogram statistics and the thresholds derived from them.
#include "ci_id/threshold.h"

#include <cmath>
#include <cstring>
#include <new>

#include "base/cip_histogram.h"
#include "base/csys_cleanup.hpp"
#include "ci_id/edge.h"

// ---- the statistics class ----------------------------------------------------------------

csys_status cxHistoStats::init(cxVector<uint32_t>& histogram, bool takeOver) {
  momentsValid_ = inverseCumValid_ = modeValid_ = false;
  std::memset(inverseCumTable_, 0, sizeof inverseCumTable_);
  nSamp_ = 0;
  if (takeOver) {
    histogram_.swap(histogram);
  } else {
    try {
      histogram_ = histogram;
    } catch (const std::bad_alloc&) {
      cxVector<uint32_t>().swap(histogram_);
      return csys_errNoMemory;
    }
  }
  uint64_t n = 0;
  for (uint32_t c : histogram_) n += c;
  nSamp_ = static_cast<uint32_t>(n);
  return 0;
}

void cxHistoStats::computeMoments() const {
  momentsValid_ = true;
  meanValue_ = sDevValue_ = varValue_ = 0;
  if (nSamp_ == 0) return;
  double sum = 0;
  for (size_t b = 0; b < histogram_.size(); ++b) sum += static_cast<double>(b) * histogram_[b];
  meanValue_ = sum / nSamp_;
  if (nSamp_ < 2) return;
  double spread = 0;
  for (size_t b = 0; b < histogram_.size(); ++b) {
    const double d = static_cast<double>(b) - meanValue_;
    spread += histogram_[b] * d * d;
  }
  varValue_ = spread / (nSamp_ - 1.0);
  sDevValue_ = std::sqrt(varValue_);
}

double cxHistoStats::mean() const {
  if (!momentsValid_) computeMoments();
  return meanValue_;
}

double cxHistoStats::sDev() const {
  if (!momentsValid_) computeMoments();
  return sDevValue_;
}

double cxHistoStats::var() const {
  if (!momentsValid_) computeMoments();
  return varValue_;
}

void cxHistoStats::computeInverseCum() const {
  inverseCumValid_ = true;
  if (histogram_.empty()) return;
  cip_pelHistogramStat_invCum(histogram_.data(), static_cast<uint32_t>(histogram_.size()), inverseCumTable_);
}

int32_t cxHistoStats::inverseCum(int32_t percentile) const {
  if (!inverseCumValid_) computeInverseCum();
  percentile = percentile < 0 ? 0 : (percentile > 100 ? 100 : percentile);
  return inverseCumTable_[percentile];
}

int32_t cxHistoStats::mode() const {
  if (modeValid_) return modeValue_;
  // The last non-empty bin bounds the scan once the percentile table knows it.
  const size_t end = inverseCumValid_ && nSamp_ > 0 ? static_cast<size_t>(inverseCumTable_[100]) + 1 : histogram_.size();
  modeValue_ = 0;
  for (size_t b = 1; b < end; ++b)
    if (histogram_[b] > histogram_[static_cast<size_t>(modeValue_)]) modeValue_ = static_cast<int32_t>(b);
  modeValid_ = true;
  return modeValue_;
}

// ---- flat functions ------------------------------------------------------------------------

csys_status cid_thresholdResult_init(cid_thresholdResult* result) {
  CSYS_REQUIRE(result != nullptr);
  result->isValid = 0;
  result->quality = 0;
  result->threshold = 0;
  return 0;
}

csys_status cfPelHistogramSmall(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
                                uint32_t* histogram) {
  CSYS_REQUIRE(pixels != nullptr && histogram != nullptr && width > 0 && height > 0 && stride > 0);
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* p = pixels + static_cast<ptrdiff_t>(y) * stride;
    if (width == 32) {
      // The common symbol-cell block: one unrolled row.
#pragma GCC unroll 32
      for (int x = 0; x < 32; ++x) ++histogram[p[x]];
      continue;
    }
    int32_t x = 0;
    for (; x + 4 <= width; x += 4) {
      ++histogram[p[x]];
      ++histogram[p[x + 1]];
      ++histogram[p[x + 2]];
      ++histogram[p[x + 3]];
    }
    for (; x < width; ++x) ++histogram[p[x]];
  }
  return 0;
}

csys_status cid_thresholdHist(const uint32_t* histogram, int32_t bins, cid_thresholdResult* result) {
  CSYS_REQUIRE(histogram != nullptr && result != nullptr && bins > 0);
  cid_thresholdResult_init(result);
  int32_t lo = 0;
  while (lo < bins && histogram[lo] == 0) ++lo;
  CSYS_REQUIRE(lo < bins);
  int32_t hi = bins;
  while (histogram[hi - 1] == 0) --hi;
  result->isValid = 1;
  if (hi == lo + 1) {
    result->threshold = lo;
    return 0;
  }
  // Sums over x = b - lo keep the squares small; all in doubles, exact for any realistic count.
  double n = 0, s1 = 0, s2 = 0;
  for (int32_t b = lo; b < hi; ++b) {
    const double c = histogram[b], x = b - lo;
    n += c;
    s1 += x * c;
    s2 += x * x * c;
  }
  const double total = n * s2 - s1 * s1;
  double w = 0, m = 0, best = 0;
  int32_t bestSplit = 0;
  for (int32_t b = lo; b <= hi - 2; ++b) {
    if (histogram[b] == 0) continue;
    const double k = b - lo;
    w += histogram[b];
    m += histogram[b] * k;
    const double d = s1 * w - m * n;
    const double v = d * d / (w * (n - w));
    if (v > best) {
      best = v;
      bestSplit = static_cast<int32_t>(k) + 1;
    }
  }
  result->threshold = lo + bestSplit;
  result->quality = total > 0 ? best / total : 0;
  return 0;
}

namespace {

// The window's 256-bin histogram; fails on an unbound image or an empty window.
csys_status windowHistogram(const cimg_image8Const* image, uint32_t* histogram) {
  if (!cimg_imageConst_isBound(image)) return cidut_errImageUnbound;
  const cimg_windowConst& w = image->window;
  if (w.width <= 0 || w.height <= 0) return cidut_errBadArgument;
  std::memset(histogram, 0, 256 * sizeof(uint32_t));
  return cfPelHistogramSmall(w.pixels, w.width, w.height, w.stride, histogram);
}

}  // namespace

csys_status cid_threshold(const cimg_image8Const* image, cid_thresholdResult* result) {
  CSYS_REQUIRE(image != nullptr && result != nullptr);
  uint32_t histogram[256];
  csys_status st = windowHistogram(image, histogram);
  if (CSYS_FAILED(st)) return st;
  return cid_thresholdHist(histogram, 256, result);
}

csys_status cid_thresholdBasedOnPercentage(const cimg_image8Const* image, float fraction, cid_thresholdResult* result) {
  CSYS_REQUIRE(image != nullptr && result != nullptr);
  uint32_t histogram[256];
  csys_status st = windowHistogram(image, histogram);
  if (CSYS_FAILED(st)) return st;
  uint64_t cumulative[256];
  uint64_t k = 0;
  for (int b = 0; b < 256; ++b) cumulative[b] = k += histogram[b];
  const float target = static_cast<float>(cumulative[255]) * fraction;
  int32_t threshold = 256;
  for (int b = 0; b < 256; ++b)
    if (static_cast<float>(cumulative[b]) >= target) {
      threshold = b;
      break;
    }
  cid_thresholdResult_init(result);
  result->isValid = 1;
  result->quality = 1.0;
  result->threshold = threshold;
  return 0;
}

namespace {

struct ClassStats {
  double mean, deviation;
};

ClassStats classStats(const uint32_t* histogram, int32_t first, int32_t last, double emptyMean) {
  double n = 0, sum = 0;
  for (int32_t b = first; b <= last; ++b) {
    n += histogram[b];
    sum += static_cast<double>(b) * histogram[b];
  }
  if (n == 0) return {emptyMean, 0};
  const double mean = sum / n;
  double spread = 0;
  for (int32_t b = first; b <= last; ++b) spread += histogram[b] * (mean - b) * (mean - b);
  return {mean, std::sqrt(spread / n)};
}

}  // namespace

csys_status cidut_getDarkLightMeanThreshold_(const uint32_t* histogram, int32_t bins, int32_t darkLimit,
                                             int32_t lightLimit, double* darkMean, double* lightMean,
                                             double* darkDeviation, double* lightDeviation) {
  CSYS_REQUIRE(histogram != nullptr && darkMean != nullptr && lightMean != nullptr && darkDeviation != nullptr &&
               lightDeviation != nullptr);
  CSYS_REQUIRE(bins > 0 && darkLimit >= 0 && darkLimit < bins && lightLimit >= 0 && lightLimit < bins);
  const ClassStats dark = classStats(histogram, 0, darkLimit, darkLimit / 2);
  const ClassStats light = classStats(histogram, lightLimit, bins - 1, (lightLimit + 255) / 2);
  *darkMean = dark.mean;
  *lightMean = light.mean;
  *darkDeviation = dark.deviation;
  *lightDeviation = light.deviation;
  return 0;
}

csys_status cidut_getDarkLightMeanPercent_(const uint32_t* histogram, int32_t bins, int32_t darkPercent,
                                           int32_t lightPercent, double* darkMean, double* lightMean,
                                           double* darkDeviation, double* lightDeviation) {
  CSYS_REQUIRE(histogram != nullptr && bins > 0);
  CSYS_REQUIRE(darkPercent >= 0 && darkPercent <= 100 && lightPercent >= 0 && lightPercent <= 100);
  csys::CleanupList cleanup;
  int32_t* table = nullptr;
  csys_status st = csys_memory_alloc_internal(101 * sizeof(int32_t), reinterpret_cast<void**>(&table));
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.freeAlways(&table);
  st = cip_pelHistogramStat_invCum(histogram, static_cast<uint32_t>(bins), table);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  st = cidut_getDarkLightMeanThreshold_(histogram, bins, table[darkPercent], table[100 - lightPercent], darkMean,
                                        lightMean, darkDeviation, lightDeviation);
  return cleanup.exit(st);
}

csys_status cidut_getImageSharpnessFromSymbolRegion_(const cimg_image8Const* image, int32_t ignoreZero,
                                                     double* sharpness) {
  CSYS_REQUIRE(image != nullptr && sharpness != nullptr);
  csys::CleanupList cleanup;
  uint32_t* grey = nullptr;
  uint32_t* gradient = nullptr;
  csys_status st = csys_memory_allocClear_internal(256 * sizeof(uint32_t), reinterpret_cast<void**>(&grey));
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.freeAlways(&grey);
  st = csys_memory_allocClear_internal(256 * sizeof(uint32_t), reinterpret_cast<void**>(&gradient));
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.freeAlways(&gradient);
  if (CSYS_FAILED(st = cip_pelHistogram8(image, grey))) return cleanup.exit(st);
  if (ignoreZero) grey[0] = 0;
  uint64_t samples = 0;
  for (int b = 0; b < 256; ++b) samples += grey[b];
  if (samples == 0) {  // nothing left to measure
    *sharpness = 0;
    return cleanup.exit(0);
  }

  double darkMean, lightMean, dd, ld;
  st = cidut_getDarkLightMeanPercent_(grey, 256, 10, 10, &darkMean, &lightMean, &dd, &ld);
  if (CSYS_FAILED(st)) return cleanup.exit(st);

  cimg_image magnitude, angle;
  cimg_image_constructUnbound(&magnitude);
  cleanup.destructAlways<cimg_image_destruct>(&magnitude);
  cimg_image_constructUnbound(&angle);
  cleanup.destructAlways<cimg_image_destruct>(&angle);
  cip_edgeParams params{1.0, 0.0, 0.0};
  if (CSYS_FAILED(st = cip_edge_detectMagAng(image, &params, &magnitude, &angle))) return cleanup.exit(st);
  double strongMean = 0;
  if (cimg_image_isBound(&magnitude)) {
    cimg_imageConst view;
    cimg_imageConst_constructFromImage(&view, &magnitude);
    st = cip_pelHistogram8(&view, gradient);
    cimg_imageConst_destruct(&view);
    if (CSYS_FAILED(st)) return cleanup.exit(st);
    double weakMean;
    st = cidut_getDarkLightMeanPercent_(gradient, 256, 10, 10, &weakMean, &strongMean, &dd, &ld);
    if (CSYS_FAILED(st)) return cleanup.exit(st);
  }
  const double contrast = lightMean - darkMean;
  *sharpness = contrast > 1.0 ? std::fmin(1.0, strongMean / contrast) : 0.0;
  return cleanup.exit(0);
}
