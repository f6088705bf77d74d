/* The tracking-state header compiles as C and its initialisers link from the shared library. */
#include <stdio.h>

#include "ci_id/trackingstate.h"

int main(void) {
  cidc_trackStateConstantRate1D state;
  cidc_trackedValue pos = {10, 4, 8}, rate = {2, -1, 8};
  if (cidc_trackStateConstantRate1D_init(&state, 8) != 0) return 1;
  if (state.covariance != -1 || state.rate.precision != 8 || state.estimate.variance != -1) return 2;
  if (cidc_trackStateConstantRate1D_initVal(&state, &pos, &rate, 1) != 0) return 3;
  if (state.covariance != -1 || state.estimate.value != 10 || state.ready != 1) return 4;
  puts("trackingstate ok");
  return 0;
}
