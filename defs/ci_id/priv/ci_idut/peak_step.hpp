// One sample of the extremum detector, shared by the exported detector and the edge scans'
// inner loops (which run it inline for speed).
#ifndef IDUT_PRIV_PEAK_STEP_HPP
#define IDUT_PRIV_PEAK_STEP_HPP

#include <cstdint>

#include "ci_id/peakdetect.h"

namespace cidc {

inline int32_t saturate32(int64_t v) {
  return v > INT32_MAX ? INT32_MAX : (v < INT32_MIN ? INT32_MIN : int32_t(v));
}

// Takes sample s; emits a peak at the plateau that s ends when the plateau is short, beyond the
// threshold and between slopes of opposite sign. Returns false (after reporting the assertion)
// only when a peak would overrun the room reserved at init.
inline bool peakStep(cidc_peakDetectState& st, int32_t s, int32_t threshold, int32_t offset, int32_t shiftLeft,
                     int32_t shiftRight, uint8_t grey) {
  const int64_t delta = int64_t(s) - st.last;
  if (delta == 0) {  // the plateau goes on
    ++st.index;
    return true;
  }
  const bool significant = delta > 0 ? st.last < -threshold : st.last > threshold;
  const bool turns = (delta > 0) != (st.lastDelta > 0);
  if (st.lastDelta != 0 && significant && turns && st.index - st.lastChange - 1 < 6) {
    if (st.count >= st.capacity) {
      cstd_assert_(__LINE__);
      return false;
    }
    const int64_t a = st.beforeLast, b = st.last, c = s, den = (a - 2 * b + c) * 2;
    const int32_t corr = den == 0 ? 0 : int32_t(((a - c) * 16) / den);
    cidc_peakIDFixedX_4& p = *st.next;
    p.position = ((int64_t(st.index) + st.lastChange + 1) * 16 >> 1) + corr + offset;
    p.value = int32_t(uint32_t(st.last) << shiftLeft) >> shiftRight;
    p.mark1 = 0;
    p.mark2 = 0;
    p.grey = grey;
    ++st.next;
    ++st.count;
  }
  st.lastChange = st.index;
  st.lastDelta = saturate32(delta);
  st.beforeLast = st.last;
  st.last = s;
  ++st.index;
  return true;
}

}  // namespace cidc

#endif
