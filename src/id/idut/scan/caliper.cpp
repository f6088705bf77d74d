// Edge location along grey profiles: derivative, thresholds, parabolic sub-sample peaks and
// the merge of close edges; the caliper chains sampling and location.
#include "ci_id/caliper.h"

#include <cstdlib>

#include "base/csys_cleanup.hpp"
#include "ci_id/linepixels.h"

namespace {

struct Found {
  int32_t* values;
  int32_t* positions;
  int32_t maxEdges;
  int32_t count = 0;
};

// Spacing in 1/256 pixel, rounded half away from zero.
int64_t scaledSpacing(double spacing) {
  const double s = spacing * 256.0;
  return static_cast<int64_t>(s >= 0 ? s + 0.5 : s - 0.4999999999);
}

// Stores an edge, or with merging on folds it into the previous one when they lie within two
// pixels (the stronger stays, the earlier on a tie). `gap` is how far the new edge lies beyond
// the previous one in the walk's direction.
void store(Found& f, int32_t value, int64_t position, bool merge, bool forward) {
  if (merge && f.count > 0) {
    const int64_t previous = f.positions[f.count - 1];
    const int64_t gap = forward ? position - previous : previous - position;
    if (gap < 512) {
      if (std::abs(value) > std::abs(f.values[f.count - 1])) {
        f.values[f.count - 1] = value;
        f.positions[f.count - 1] = static_cast<int32_t>(position);
      }
      return;
    }
  }
  f.values[f.count] = value;
  f.positions[f.count] = static_cast<int32_t>(position);
  ++f.count;
}

// Sub-sample offset of the extremum v between a and b, in 1/256 sample.
inline int32_t parabolaOffset(int32_t a, int32_t v, int32_t b) {
  const int32_t divisor = (a + b) * 2 - 4 * v;
  return divisor == 0 ? 0 : ((a - b) * 256) / divisor;
}

enum class Kind { none, maximum, minimum };

inline Kind extremum(int32_t a, int32_t v, int32_t b, int32_t lo, int32_t hi) {
  if (v > hi && a <= v && b < v) return Kind::maximum;
  if (v < lo && v <= a && v < b) return Kind::minimum;
  return Kind::none;
}

using Walker = void (*)(const int32_t* d, int32_t n, int32_t lo, int32_t hi, int64_t s, bool merge, Found& f);

// Centred profile: d(i) = p(i + 2) - p(i) stands for sample i + 1, centred at i + 1.5.
void walkCentred(const int32_t* d, int32_t n, int32_t lo, int32_t hi, int64_t s, bool merge, Found& f) {
  for (int32_t i = 0; i < n - 4 && f.count < f.maxEdges; ++i) {
    const int32_t a = d[i], v = d[i + 1], b = d[i + 2];
    if (extremum(a, v, b, lo, hi) == Kind::none) continue;
    const int64_t position = ((int64_t{i} * 256 + 640 + parabolaOffset(a, v, b)) * s + 128) >> 8;
    store(f, v, position, merge, true);
  }
}

// Start-aligned profile, walked from the far end.
void walkBackwards(const int32_t* d, int32_t n, int32_t lo, int32_t hi, int64_t s, bool merge, Found& f) {
  for (int32_t i = n - 2; i >= 1 && f.count < f.maxEdges; --i) {
    const int32_t a = d[i - 1], v = d[i], b = d[i + 1];
    if (extremum(a, v, b, lo, hi) == Kind::none) continue;
    const int64_t position = ((int64_t{i} * 256 + parabolaOffset(a, v, b)) * s + 128) >> 8;
    store(f, v, position, merge, false);
  }
}

csys_status locate(const uint8_t* p, int32_t n, int32_t maxEdges, int32_t threshold, int32_t adaptive,
                   double spacing, int32_t* values, int32_t* positions, int32_t* count, bool centred) {
  CSYS_REQUIRE(p != nullptr && values != nullptr && positions != nullptr && count != nullptr && maxEdges >= 0);
  *count = 0;
  if (maxEdges > 0) values[0] = 0;
  if (n < 5) return 0;
  csys::CleanupList cleanup;
  int32_t* d = nullptr;
  csys_status st = csys_memory_alloc_internal(sizeof(int32_t) * static_cast<size_t>(n), reinterpret_cast<void**>(&d));
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.freeAlways(&d);
  int32_t smallest = 0, largest = 0;
  auto track = [&](int32_t v) {
    if (v < smallest) smallest = v;
    else if (v > largest) largest = v;
  };
  if (centred) {
    for (int32_t i = 0; i + 2 < n; ++i) track(d[i] = p[i + 2] - p[i]);
  } else {
    d[0] = p[1] - p[0];
    d[n - 1] = p[n - 1] - p[n - 2];
    for (int32_t i = 1; i + 1 < n; ++i) track(d[i] = p[i + 1] - p[i - 1]);
  }
  if (-threshold < smallest && largest < threshold) return cleanup.exit(0);
  int32_t lo = -threshold, hi = threshold;
  if (adaptive) {
    lo = smallest / 3;
    hi = largest / 3;
    if (!centred) {
      if (largest < 3) hi = 1;
      if (smallest >= -2) lo = -1;
    }
  }
  Found f{values, positions, maxEdges};
  const Walker walk = centred ? walkCentred : walkBackwards;
  walk(d, n, lo, hi, scaledSpacing(spacing), adaptive != 0, f);
  *count = f.count;
  return cleanup.exit(0);
}

}  // namespace

extern "C" {

csys_status cidut_lineEdgeLoc(const uint8_t* profile, int32_t n, int32_t maxEdges, int32_t threshold,
                              int32_t adaptive, double spacing, int32_t* values, int32_t* positions, int32_t* count) {
  return locate(profile, n, maxEdges, threshold, adaptive, spacing, values, positions, count, true);
}

csys_status cidut_lineEdgeLoc2D(const uint8_t* profile, int32_t n, int32_t maxEdges, int32_t threshold,
                                int32_t adaptive, double spacing, int32_t* values, int32_t* positions,
                                int32_t* count) {
  return locate(profile, n, maxEdges, threshold, adaptive, spacing, values, positions, count, false);
}

csys_status cidut_caliperLite(const cimg_windowConst* window, const cmath_vect* p0, const cmath_vect* p1,
                              int32_t maxEdges, int32_t threshold, int32_t adaptive, int32_t* values,
                              int32_t* positions, int32_t* count) {
  CSYS_REQUIRE(window != nullptr && p0 != nullptr && p1 != nullptr && positions != nullptr && count != nullptr);
  *count = 0;
  int32_t n = 0;
  csys_status st = cidut_getPixelCount(p0, p1, &n);
  if (CSYS_FAILED(st)) return st;
  CSYS_REQUIRE(n >= 1);
  csys::CleanupList cleanup;
  uint8_t* buffer = nullptr;
  if (CSYS_FAILED(st = csys_memory_alloc_internal(static_cast<size_t>(n), reinterpret_cast<void**>(&buffer))))
    return cleanup.exit(st);
  cleanup.freeAlways(&buffer);
  uint8_t mean = 0;
  double spacing = 0;
  if (CSYS_FAILED(st = cidut_linePixels(window, p0, p1, buffer, n, &mean, &spacing))) return cleanup.exit(st);
  return cleanup.exit(cidut_lineEdgeLoc(buffer, n, maxEdges, threshold, adaptive, spacing, values, positions, count));
}

}  // extern "C"
