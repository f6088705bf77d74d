// Initialisers of the fixed-point tracking states.
#include "ci_id/trackingstate.h"

namespace {
constexpr int32_t kUnknown = -1;

cidc_trackedValue unknownZero(int32_t precision) { return cidc_trackedValue{0, kUnknown, precision}; }
}  // namespace

extern "C" {

csys_status cidc_trackStateConstantVal1D_init(cidc_trackStateConstantVal1D* state, int32_t precision) {
  CSYS_REQUIRE(state != nullptr);
  state->estimate = unknownZero(precision);
  state->ready = 0;
  return 0;
}

csys_status cidc_trackStateConstantVal1D_initVal(cidc_trackStateConstantVal1D* state, const cidc_trackedValue* value,
                                                 int32_t ready) {
  CSYS_REQUIRE(state != nullptr && value != nullptr);
  state->estimate = *value;
  state->ready = ready;
  return 0;
}

csys_status cidc_trackStateConstantRate1D_init(cidc_trackStateConstantRate1D* state, int32_t precision) {
  CSYS_REQUIRE(state != nullptr);
  state->estimate = unknownZero(precision);
  state->rate = unknownZero(precision);
  state->covariance = kUnknown;
  state->ready = 0;
  return 0;
}

csys_status cidc_trackStateConstantRate1D_initVal(cidc_trackStateConstantRate1D* state,
                                                  const cidc_trackedValue* position, const cidc_trackedValue* rate,
                                                  int32_t ready) {
  CSYS_REQUIRE(state != nullptr && position != nullptr && rate != nullptr);
  // Position and rate are combined in one state, so they must share one scale.
  CSYS_REQUIRE(position->precision == rate->precision);
  const cidc_trackedValue p = *position, r = *rate;  // the inputs may live inside *state
  state->estimate = p;
  state->rate = r;
  state->covariance = (p.variance < 0 || r.variance < 0) ? kUnknown : 0;
  state->ready = ready;
  return 0;
}

}  // extern "C"
