/* Fixed-point tracking states: small records with which a caller follows a scalar from scan to
 * scan, either as a constant value or as a value changing at a constant rate per step. The
 * library only initialises them; they are plain values owned by the caller.
 *
 * A tracked value carries its own scale: `precision` is the number of fraction bits of `value`
 * (and the values combined in one state carry the same precision). A `variance` of -1 means
 * "unknown"; otherwise it is >= 0, in the squared units of `value`.
 *
 * Every function returns 0. A null pointer, or (for the constant-rate initialiser) a position
 * and rate of different precision, is reported through cstd_assert_ and the function returns
 * csys_errAssertion with the state untouched. */
#ifndef IDUT_CI_ID_TRACKINGSTATE_H
#define IDUT_CI_ID_TRACKINGSTATE_H

#include "base/csys.h"

IDUT_EXTERN_C_BEGIN

typedef struct cidc_trackedValue {
  int32_t value;     /* the estimate, with `precision` fraction bits */
  int32_t variance;  /* -1 = unknown, otherwise >= 0 */
  int32_t precision; /* fraction bits of `value` */
} cidc_trackedValue;

/* A value that is expected to stay constant from step to step. */
typedef struct cidc_trackStateConstantVal1D {
  cidc_trackedValue estimate;
  int32_t ready; /* nonzero once the caller considers the estimate usable */
} cidc_trackStateConstantVal1D;

/* A position changing by a constant rate per step. */
typedef struct cidc_trackStateConstantRate1D {
  cidc_trackedValue estimate; /* the position */
  cidc_trackedValue rate;     /* its change per step */
  int32_t covariance;         /* of position and rate; -1 = unknown */
  int32_t ready;
} cidc_trackStateConstantRate1D;

/* estimate = (0, -1, precision): zero of unknown variance; ready = 0. */
IDUT_API csys_status cidc_trackStateConstantVal1D_init(cidc_trackStateConstantVal1D* state, int32_t precision);
/* estimate = *value (copied), ready as passed. */
IDUT_API csys_status cidc_trackStateConstantVal1D_initVal(cidc_trackStateConstantVal1D* state,
                                                          const cidc_trackedValue* value, int32_t ready);
/* estimate = rate = (0, -1, precision); covariance = -1; ready = 0. */
IDUT_API csys_status cidc_trackStateConstantRate1D_init(cidc_trackStateConstantRate1D* state, int32_t precision);
/* Copies both values (which must have the same precision). covariance = -1 when either variance
 * is unknown (negative), else 0; ready as passed. */
IDUT_API csys_status cidc_trackStateConstantRate1D_initVal(cidc_trackStateConstantRate1D* state,
                                                           const cidc_trackedValue* position,
                                                           const cidc_trackedValue* rate, int32_t ready);

IDUT_EXTERN_C_END

#endif
