/* Grey-level histograms of 8-bit images, their percentiles, and the within-group-variance
 * threshold that the binarisers fall back on.
 *
 * Histograms are arrays of unsigned 32-bit counts, bin index = grey value. A histogram of an
 * image has 256 bins. Percentile convention (used by every percentile query of the library):
 * with N the total count, table[j] (j = 0..100) is the first bin whose cumulative count
 * exceeds j * N / 100, computed exactly in integers; table[0] is the first non-empty bin and
 * table[100] the last non-empty bin. An empty histogram gives a table of zeros. */
#ifndef IDUT_CIP_HISTOGRAM_H
#define IDUT_CIP_HISTOGRAM_H

#include "base/cimg.h"

IDUT_EXTERN_C_BEGIN

#define CIP_HISTOGRAM8_BINS 256
#define CIP_PERCENTILE_TABLE_SIZE 101

/* Counts the pixels of the image's window into histogram[0..255], which is cleared first.
 * An empty window gives an all-zero histogram. csys_errImageUnbound when the image has no
 * pixels (histogram untouched). */
IDUT_API csys_status cip_pelHistogram8(const cimg_imageConst* image, uint32_t* histogram);

/* Fills table[0..100] with the bin at each percentile (convention above) of a histogram of
 * `bins` bins (bins >= 1, asserted). */
IDUT_API csys_status cip_pelHistogramStat_invCum(const uint32_t* histogram, uint32_t bins, int32_t* table);

/* Within-group-variance threshold. A threshold t splits the histogram into a dark class (bins
 * below t) and a light class (bins from t on); the chosen t minimises
 *   darkWeight * (sum of squared deviations of the dark class)
 *   + lightWeight * (sum of squared deviations of the light class)
 * over t in [minThreshold, maxThreshold] where both classes hold samples; ties go to the
 * lowest t. With equal weights this is Otsu's threshold. Only bins 0..lastBin are counted.
 * When no t in the range splits the samples (an empty histogram, one occupied bin, or all
 * samples on one side of the range) the threshold is the first occupied bin, or
 * defaultThreshold for an empty histogram, clamped to [minThreshold, maxThreshold]. */
typedef struct cip_threshParams {
  double darkWeight;
  double lightWeight;
  int32_t defaultThreshold;
} cip_threshParams;

/* Weights 1 and 1 (Otsu), default threshold 128. */
IDUT_API csys_status cip_threshParams_init(cip_threshParams* params);

/* histogram has lastBin + 1 bins (0 <= lastBin, 1 <= minThreshold <= maxThreshold <= lastBin;
 * csys_errBadArgument otherwise, threshold untouched). */
IDUT_API csys_status cip_threshComputeWGVThresholdFromHistogram(const uint32_t* histogram, int32_t lastBin,
                                                                int32_t minThreshold, int32_t maxThreshold,
                                                                const cip_threshParams* params,
                                                                int32_t* threshold);

/* The image's 256-bin histogram, then the threshold over [1, 255]. csys_errImageUnbound for an
 * unbound image. */
IDUT_API csys_status cip_threshComputeWGVThresholdFromImage(const cimg_imageConst* image,
                                                            const cip_threshParams* params,
                                                            int32_t* threshold);

IDUT_EXTERN_C_END

#endif
