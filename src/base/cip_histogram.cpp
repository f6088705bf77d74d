// Histograms of 8-bit windows, percentile tables and the within-group-variance threshold.
#include "base/cip_histogram.h"

#include <algorithm>
#include <cstring>

namespace {

// Four interleaved histograms so that runs of equal pixels do not serialise on one counter.
void countWindow(const cimg_windowConst& w, uint32_t* histogram) {
  uint32_t lanes[4][CIP_HISTOGRAM8_BINS] = {};
  for (int32_t y = 0; y < w.height; ++y) {
    const uint8_t* row = w.pixels + static_cast<ptrdiff_t>(y) * w.stride;
    int32_t x = 0;
    for (; x + 4 <= w.width; x += 4) {
      ++lanes[0][row[x]];
      ++lanes[1][row[x + 1]];
      ++lanes[2][row[x + 2]];
      ++lanes[3][row[x + 3]];
    }
    for (; x < w.width; ++x) ++lanes[0][row[x]];
  }
  for (int b = 0; b < CIP_HISTOGRAM8_BINS; ++b)
    histogram[b] = lanes[0][b] + lanes[1][b] + lanes[2][b] + lanes[3][b];
}

}  // namespace

csys_status cip_pelHistogram8(const cimg_imageConst* image, uint32_t* histogram) {
  CSYS_REQUIRE(image != nullptr && histogram != nullptr);
  if (!cimg_imageConst_isBound(image)) return csys_errImageUnbound;
  countWindow(image->window, histogram);
  return 0;
}

csys_status cip_pelHistogramStat_invCum(const uint32_t* histogram, uint32_t bins, int32_t* table) {
  CSYS_REQUIRE(histogram != nullptr && table != nullptr && bins >= 1);
  uint64_t total = 0;
  for (uint32_t b = 0; b < bins; ++b) total += histogram[b];
  std::memset(table, 0, sizeof(int32_t) * CIP_PERCENTILE_TABLE_SIZE);
  if (total == 0) return 0;
  // table[j] = first bin with cum * 100 > j * total; exact in 64 bits for any 32-bit bin count
  // below 2^24 bins.
  uint64_t cum = 0;
  uint32_t next = 0;
  for (uint32_t b = 0; b < bins; ++b) {
    if (histogram[b] == 0) continue;
    table[100] = static_cast<int32_t>(b);
    cum += histogram[b];
    while (next < 100 && cum * 100 > uint64_t{next} * total) table[next++] = static_cast<int32_t>(b);
  }
  return 0;
}

csys_status cip_threshParams_init(cip_threshParams* params) {
  CSYS_REQUIRE(params != nullptr);
  params->darkWeight = 1.0;
  params->lightWeight = 1.0;
  params->defaultThreshold = 128;
  return 0;
}

csys_status cip_threshComputeWGVThresholdFromHistogram(const uint32_t* histogram, int32_t lastBin,
                                                       int32_t minThreshold, int32_t maxThreshold,
                                                       const cip_threshParams* params, int32_t* threshold) {
  CSYS_REQUIRE(histogram != nullptr && params != nullptr && threshold != nullptr);
  if (lastBin < 0 || minThreshold < 1 || minThreshold > maxThreshold || maxThreshold > lastBin)
    return csys_errBadArgument;
  // Class sums as exact integers; the objective per split in long double.
  uint64_t n = 0, s1 = 0;
  long double s2 = 0;
  int32_t firstOccupied = -1;
  for (int32_t b = 0; b <= lastBin; ++b) {
    const uint64_t c = histogram[b];
    if (c == 0) continue;
    if (firstOccupied < 0) firstOccupied = b;
    n += c;
    s1 += c * static_cast<uint64_t>(b);
    s2 += static_cast<long double>(c) * b * b;
  }
  const int32_t fallback = firstOccupied >= 0 ? firstOccupied : params->defaultThreshold;
  uint64_t nd = 0, s1d = 0;
  long double s2d = 0;
  for (int32_t b = 0; b < minThreshold; ++b) {
    nd += histogram[b];
    s1d += uint64_t{histogram[b]} * static_cast<uint64_t>(b);
    s2d += static_cast<long double>(histogram[b]) * b * b;
  }
  bool found = false;
  long double best = 0;
  int32_t bestT = 0;
  for (int32_t t = minThreshold; t <= maxThreshold; ++t) {
    if (nd > 0 && nd < n) {
      const long double nl = static_cast<long double>(n - nd);
      const long double s1l = static_cast<long double>(s1 - s1d);
      const long double ssd = s2d - static_cast<long double>(s1d) * s1d / nd;
      const long double ssl = (s2 - s2d) - s1l * s1l / nl;
      const long double f = params->darkWeight * ssd + params->lightWeight * ssl;
      if (!found || f < best) {
        best = f;
        bestT = t;
        found = true;
      }
    }
    const uint64_t c = histogram[t];
    nd += c;
    s1d += c * static_cast<uint64_t>(t);
    s2d += static_cast<long double>(c) * t * t;
  }
  *threshold = found ? bestT : std::clamp(fallback, minThreshold, maxThreshold);
  return 0;
}

csys_status cip_threshComputeWGVThresholdFromImage(const cimg_imageConst* image, const cip_threshParams* params,
                                                   int32_t* threshold) {
  CSYS_REQUIRE(image != nullptr && params != nullptr && threshold != nullptr);
  uint32_t histogram[CIP_HISTOGRAM8_BINS];
  csys_status st = cip_pelHistogram8(image, histogram);
  if (CSYS_FAILED(st)) return st;
  return cip_threshComputeWGVThresholdFromHistogram(histogram, 255, 1, 255, params, threshold);
}
