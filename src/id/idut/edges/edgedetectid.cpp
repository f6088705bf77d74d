// The table-driven edge detector: shared gradient tables, edge-code tables and the kernels.
#include "ci_id/edgedetectid.h"

#include <atomic>
#include <cmath>

#include "base/csys_cleanup.hpp"
#include "edgedetectid_tables.hpp"

namespace {

struct SharedTables {
  csys_criticalSection section{nullptr};
  cstd_vector8 variant[2];
  std::atomic<bool> filled[2] = {false, false};
  std::atomic<uint32_t> builds{0};
};

SharedTables g_tables;
csys_onceFlag g_once = {0};

void releaseTables() {
  for (int v = 0; v < 2; ++v) {
    cstd_vector8_destruct(&g_tables.variant[v]);
    g_tables.filled[v].store(false);
  }
  csys_criticalSection_destruct(&g_tables.section);
  g_once.state = 0;  // a use after shutdown builds them again
}

csys_status createTables() {
  csys_status st = csys_criticalSection_construct(&g_tables.section);
  if (CSYS_FAILED(st)) return st;
  cstd_vector8_constructEmpty(&g_tables.variant[0]);
  cstd_vector8_constructEmpty(&g_tables.variant[1]);
  return csys_shutdown_register(&releaseTables);
}

csys_status fillTable(int variant) {
  cstd_vector8* v = &g_tables.variant[variant];
  uint8_t* bytes = nullptr;
  uint32_t size = 0;
  cstd_vector8_getBeginSize32(v, &bytes, &size);
  if (size != 0) return 0;
  csys_status st = cstd_vector8_resize(v, CF_EDGEDETECTID_GRADIENT_TABLE_SIZE);
  if (CSYS_FAILED(st)) return st;
  cstd_vector8_getBeginSize32(v, &bytes, &size);
  for (int a = -128; a <= 127; ++a)
    for (int b = -128; b <= 127; ++b) {
      const uint32_t k = edgeid::keyOf(a, b);
      const size_t at = edgeid::magnitudeIndex(k);
      bytes[at] = static_cast<uint8_t>(edgeid::gradientMagnitude(a, b) - 128);
      uint8_t angle = edgeid::gradientAngle(a, b);
      if (variant == 1 && angle == 255) angle = 0;
      bytes[at + 8] = angle;
    }
  if (size != CF_EDGEDETECTID_GRADIENT_TABLE_SIZE) cstd_assert_(__LINE__);
  g_tables.builds.fetch_add(1);
  return 0;
}

}  // namespace

namespace edgeid {

int gradientMagnitude(int a, int b) {
  return static_cast<int>(cmath_double_round(std::fmin(255.0, 2.0 * std::sqrt(double(a * a + b * b)))));
}

uint8_t gradientAngle(int a, int b) {
  const double angle = cmath_radian_norm(std::atan2(double(b), double(a)) - M_PI / 4);
  const int units = static_cast<int>(cmath_double_round(angle * 128.0 / M_PI));
  return static_cast<uint8_t>(units & 255);
}

csys_status gradientTable(int variant, const uint8_t** table) {
  csys_status st = csys_initializeOnce(&g_once, &createTables);
  if (CSYS_FAILED(st)) return st;
  if (!g_tables.filled[variant].load(std::memory_order_acquire)) {
    csys_criticalSection_enter(&g_tables.section);
    st = fillTable(variant);
    if (CSYS_SUCCEEDED(st)) g_tables.filled[variant].store(true, std::memory_order_release);
    csys_criticalSection_leave(&g_tables.section);
    if (CSYS_FAILED(st)) return st;
  }
  const uint8_t* bytes = nullptr;
  uint32_t size = 0;
  cstd_vector8_getBeginSize32Const(&g_tables.variant[variant], &bytes, &size);
  *table = bytes;
  return 0;
}

uint32_t tableBuildCount() { return g_tables.builds.load(); }

}  // namespace edgeid

csys_status cfEdgeDetectID_install(void) {
  const uint8_t* table = nullptr;
  csys_status st = edgeid::gradientTable(1, &table);
  if (CSYS_FAILED(st)) return st;
  return edgeid::gradientTable(0, &table);
}

namespace {

// One block of 16 gradient bytes gives the codes of 8 consecutive keys.
void buildCodesFast(const uint8_t* gradient, uint8_t threshold, uint8_t* codes) {
  for (uint32_t block = 0; block < 0x10000u / 8; ++block) {
    const uint8_t* g = gradient + block * 16;
    uint8_t* c = codes + block * 8;
    for (int i = 0; i < 8; ++i) c[i] = static_cast<uint8_t>(g[i] + 128) < threshold ? 255 : g[i + 8];
  }
}

void buildCodesGeneric(const uint8_t* gradient, uint8_t threshold, uint8_t* codes) {
  for (uint32_t k = 0; k < 0x10000u; ++k) {
    const size_t at = edgeid::magnitudeIndex(k);
    const int magnitude = static_cast<uint8_t>(gradient[at] + 128);
    codes[k] = magnitude < threshold ? 255 : gradient[at + 8];
  }
}

}  // namespace

csys_status cf_EdgeDetectIDTableInit(cstd_vector8* table, uint8_t threshold) {
  CSYS_REQUIRE(table != nullptr);
  uint8_t* bytes = nullptr;
  uint32_t size = 0;
  cstd_vector8_getBeginSize32(table, &bytes, &size);
  CSYS_REQUIRE(size == 0 || size == CF_EDGEDETECTID_CODE_TABLE_SIZE);
  if (size == CF_EDGEDETECTID_CODE_TABLE_SIZE && bytes[0] == threshold) return 0;
  const uint8_t* gradient = nullptr;
  csys_status st = edgeid::gradientTable(1, &gradient);
  if (CSYS_FAILED(st)) return st;
  if (size == 0) {
    if (CSYS_FAILED(st = cstd_vector8_resize(table, CF_EDGEDETECTID_CODE_TABLE_SIZE))) return st;
    cstd_vector8_getBeginSize32(table, &bytes, &size);
  }
  bytes[0] = threshold;
  if (cprt_isOptimizationInhibited("cf_GetAngleTable"))
    buildCodesGeneric(gradient, threshold, bytes + 16);
  else
    buildCodesFast(gradient, threshold, bytes + 16);
  return 0;
}
