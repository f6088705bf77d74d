#include "ci_id/peakdetect.h"

#include <cstdlib>

#include "base/csys_cleanup.hpp"
#include "ci_id/priv/ci_idut/peak_step.hpp"
#include "ci_id/priv/ci_idut/vector_defs.hpp"

namespace {

using PeakVector = cstd_vector_cidc_peakIDFixedX_4;

csys_status innerConstruct(void* e) { return cstd_vector_cidc_peakIDFixedX_4_constructEmpty(static_cast<PeakVector*>(e)); }
csys_status innerCopy(void* d, const void* s) {
  return cstd_vector_cidc_peakIDFixedX_4_constructCopy(static_cast<PeakVector*>(d), static_cast<const PeakVector*>(s));
}
csys_status innerAssign(void* d, const void* s) {
  return cstd_vector_cidc_peakIDFixedX_4_assign(static_cast<PeakVector*>(d), static_cast<const PeakVector*>(s));
}
csys_status innerDestruct(void* e) { return cstd_vector_cidc_peakIDFixedX_4_destruct(static_cast<PeakVector*>(e)); }

const cstd_vector_vtable peakListTable = {innerConstruct, innerCopy, innerAssign, innerDestruct, 0xFFFFFFFFu};

}  // namespace

extern "C" {

csys_status cidc_peakDetectState_init(cidc_peakDetectState* state, cstd_vector_cidc_peakIDFixedX_4* peaks,
                                      int32_t first, int32_t maxPeaks) {
  CSYS_REQUIRE(state != nullptr && peaks != nullptr && maxPeaks >= 0);
  uint32_t size = 0;
  csys_status st;
  CSYS_TRY(st, cstd_vector_cidc_peakIDFixedX_4_getSize32(peaks, &size));
  CSYS_REQUIRE(uint64_t(size) + uint64_t(maxPeaks) <= uint64_t(INT32_MAX));
  CSYS_TRY(st, cstd_vector_cidc_peakIDFixedX_4_resize(peaks, size + uint32_t(maxPeaks)));
  cidc_peakIDFixedX_4* begin = nullptr;
  CSYS_TRY(st, cstd_vector_cidc_peakIDFixedX_4_getBegin(peaks, &begin));
  *state = cidc_peakDetectState{first, 0, 0, 0, -1, int32_t(size), int32_t(size) + maxPeaks, begin + size};
  return 0;
}

csys_status cidc_peakDetectState_detect(cidc_peakDetectState* state, uint8_t greyA, uint8_t greyB, int16_t value,
                                        int32_t threshold, int32_t offset, int32_t shiftLeft, int32_t shiftRight) {
  CSYS_REQUIRE(state != nullptr && state->next != nullptr);
  CSYS_REQUIRE(shiftLeft >= 0 && shiftLeft < 32 && shiftRight >= 0 && shiftRight < 32);
  const uint8_t grey = uint8_t((int32_t(greyA) + greyB) / 2);
  return cidc::peakStep(*state, value, threshold, offset, shiftLeft, shiftRight, grey) ? 0 : csys_errAssertion;
}

csys_status cidc_peakDetectState_advance(cidc_peakDetectState* state, int16_t value, int32_t skip) {
  CSYS_REQUIRE(state != nullptr);
  state->lastDelta = 0;
  state->beforeLast = 0;
  state->lastChange = -1;
  state->last = value;
  state->index += skip;
  return 0;
}

csys_status cidc_peakDetectState_finish(cidc_peakDetectState* state, cstd_vector_cidc_peakIDFixedX_4* peaks) {
  CSYS_REQUIRE(state != nullptr && peaks != nullptr && state->count >= 0 && state->count <= state->capacity);
  return cstd_vector_cidc_peakIDFixedX_4_resize(peaks, uint32_t(state->count));
}

csys_status cidc_runEdgeScanPeakDetection(const int32_t* width, const int32_t* samples, const int32_t* threshold,
                                          cstd_vector_cidc_peakIDFixedX_4* peaks) {
  CSYS_REQUIRE(width != nullptr && samples != nullptr && threshold != nullptr && peaks != nullptr);
  const int32_t n = *width;
  if (n < 3) return 0;
  const int32_t* p = samples;
  auto d = [p](int32_t i) { return cidc::saturate32(int64_t(p[i + 2]) - p[i]); };
  cidc_peakDetectState state;
  csys_status st;
  CSYS_TRY(st, cidc_peakDetectState_init(&state, peaks, d(0), n - 2));
  bool ok = true;
  for (int32_t i = 1; ok && i < n - 2; ++i) {
    const uint8_t grey = uint8_t((int64_t(p[i + 1]) + p[i - 1]) / 2);
    ok = cidc::peakStep(state, d(i), *threshold, 0, 0, 0, grey);
  }
  st = cidc_peakDetectState_finish(&state, peaks);
  return ok ? st : csys_errAssertion;
}

csys_status cidc_peakIDFixedX_4_getContrastStats(const cidc_peakIDFixedX_4* first, const cidc_peakIDFixedX_4* end,
                                                 int32_t includeAll, int32_t* smallest, int32_t* median) {
  CSYS_REQUIRE(smallest != nullptr && median != nullptr && first <= end && (first != nullptr || end == nullptr));
  *smallest = 0;
  *median = 0;
  if (first == end) return 0;
  csys::CleanupList cleanup;
  cstd_vector32s values;
  csys_status st = cstd_vector32s_constructEmpty(&values);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.destructAlways<cstd_vector32s_destruct>(&values);
  st = cstd_vector32s_reserve(&values, uint32_t(end - first));
  for (const cidc_peakIDFixedX_4* p = first; CSYS_SUCCEEDED(st) && p != end; ++p) {
    if (includeAll == 0 && p->mark1 == 0 && p->mark2 == 0) continue;
    st = cstd_vector32s_pushBack(&values, cidc::saturate32(std::llabs(int64_t(p->value))));
  }
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  int32_t* v = nullptr;
  uint32_t k = 0;
  st = cstd_vector32s_getBeginSize32(&values, &v, &k);
  if (CSYS_FAILED(st) || k == 0) return cleanup.exit(st);
  st = cstd_vector32s_sort(&values, 1);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  *smallest = v[0];
  *median = v[k / 2];
  return cleanup.exit(0);
}

}  // extern "C"

CSTD_TYPED_VECTOR_DEFS(cidc_peakIDFixedX_4, cidc_peakIDFixedX_4, nullptr)
CSTD_TYPED_VECTOR_DEFS(vector_cidc_peakIDFixedX_4, cstd_vector_cidc_peakIDFixedX_4, &peakListTable)
