/* Edge peaks along a signal: the peak record, the incremental extremum detector and contrast
 * statistics over peak lists.
 *
 * An edge shows up as an extremum of a derivative signal: a rising grey step as a positive
 * maximum, a falling one as a negative minimum. The detector takes the signal one sample at a
 * time and emits a peak when a plateau of at most 6 equal samples, reached by a slope of one
 * sign and left by a slope of the other, lies strictly beyond the threshold (above it for
 * maxima, below its negative for minima). The peak's position is the plateau's centre plus a
 * parabolic correction through the samples on either side, in 1/16 sample:
 *   position = 16 * centre + ((a - c) * 16) / ((a - 2b + c) * 2) + offset
 * with a the value before the plateau, b the plateau's and c the one after (no correction when
 * the denominator is 0).
 *
 * Use: init once per signal (it reserves room for the new peaks after those the vector already
 * holds), detect once per further sample, advance where the signal jumps over a gap, finish once
 * (it trims the unused room). The state does not own the vector; nothing else may resize the
 * vector between init and finish. */
#ifndef IDUT_CI_ID_PEAKDETECT_H
#define IDUT_CI_ID_PEAKDETECT_H

#include <stdint.h>

#include "ci_id/status.h"
#include "ci_id/vector.h"

IDUT_EXTERN_C_BEGIN

typedef struct cidc_peakIDFixedX_4 {
  int64_t position;        /* 1/16 sample; along a scan, the along-coordinate of its line */
  int32_t value;           /* the extremum, scaled as the caller asked; its sign is the polarity */
  int32_t mark1, mark2;    /* 0 when made; callers set them to mark a peak as used */
  uint8_t callerData[16];  /* never written or read by the library */
  uint8_t grey;            /* mean grey of the two sides of the edge */
} cidc_peakIDFixedX_4;

CSTD_TYPED_VECTOR_DECLS(cidc_peakIDFixedX_4, cidc_peakIDFixedX_4)
/* Lists of peak lists; the inner vectors are copied and destroyed with their own family. */
CSTD_TYPED_VECTOR_DECLS(vector_cidc_peakIDFixedX_4, cstd_vector_cidc_peakIDFixedX_4)

typedef struct cidc_peakDetectState {
  int32_t last;        /* the most recent sample */
  int32_t index;       /* its index (0 for the sample given to init) */
  int32_t beforeLast;  /* the value held before the last change of value */
  int32_t lastDelta;   /* the last non-zero difference of consecutive samples; 0: no slope yet */
  int32_t lastChange;  /* index at the last change of value; -1: none yet */
  int32_t count;       /* records of the vector filled so far */
  int32_t capacity;    /* records reserved */
  cidc_peakIDFixedX_4* next; /* next free record */
} cidc_peakDetectState;

/* Starts a signal with its first sample and reserves room for maxPeaks more records (each
 * detect emits at most one, so the number of later detect calls always suffices). A failing
 * resize is returned and leaves the vector as it was. */
IDUT_API csys_status cidc_peakDetectState_init(cidc_peakDetectState* state, cstd_vector_cidc_peakIDFixedX_4* peaks,
                                               int32_t first, int32_t maxPeaks);
/* Takes the next sample. An emitted peak gets value (b << shiftLeft) >> shiftRight, grey
 * (greyA + greyB) / 2 and the position offset added. */
IDUT_API csys_status cidc_peakDetectState_detect(cidc_peakDetectState* state, uint8_t greyA, uint8_t greyB,
                                                 int16_t value, int32_t threshold, int32_t offset, int32_t shiftLeft,
                                                 int32_t shiftRight);
/* The signal jumps: the next sample is `skip` indices on and no plateau ends across the jump. */
IDUT_API csys_status cidc_peakDetectState_advance(cidc_peakDetectState* state, int16_t value, int32_t skip);
/* Drops the reserved records that were not filled. */
IDUT_API csys_status cidc_peakDetectState_finish(cidc_peakDetectState* state, cstd_vector_cidc_peakIDFixedX_4* peaks);

/* Edges of a stored profile: *width samples at `samples` (e.g. the width field and pixels of a
 * one-row 32-bit window). The derivative d(i) = p(i+2) - p(i) stands for sample i+1; positions
 * are 16 * (index in d) plus the correction, values are d unscaled, grey is
 * (p(i+1) + p(i-1)) / 2 kept to 8 bits. Fewer than 3 samples give no peaks. */
IDUT_API csys_status cidc_runEdgeScanPeakDetection(const int32_t* width, const int32_t* samples,
                                                   const int32_t* threshold, cstd_vector_cidc_peakIDFixedX_4* peaks);

/* Smallest and (upper) median absolute value over [first, end): of every peak when includeAll
 * is non-zero, else only of peaks with mark1 or mark2 set. Both are 0 when none count; they are
 * also 0 after an allocation failure, which is returned. */
IDUT_API csys_status cidc_peakIDFixedX_4_getContrastStats(const cidc_peakIDFixedX_4* first,
                                                          const cidc_peakIDFixedX_4* end, int32_t includeAll,
                                                          int32_t* smallest, int32_t* median);

IDUT_EXTERN_C_END

#endif
