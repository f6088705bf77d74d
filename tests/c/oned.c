/* The one-dimensional measuring headers compile as C and their functions link from the shared
 * library: sampling, caliper, grid cells and clustering on a tiny profile. */
#include <stdio.h>

#include "ci_id/caliper.h"
#include "ci_id/findbarcode.h"
#include "ci_id/gridpitch.h"
#include "ci_id/kmeans.h"
#include "ci_id/linepixels.h"
#include "ci_id/teeth.h"

int main(void) {
  uint8_t pixels[4 * 12], profile[8];
  int32_t values[4], positions[4], count = 0, labels[6], clusters = 0, converged = 0, i;
  const int32_t data[6] = {1, 1, 1, 10, 10, 10};
  cmath_statisticsFixed stats[4];
  cidut_clusterKMeansParams params = {2, -1.0, 2.0 / 256, 8};
  cimg_windowConst window = {12, 4, 0, 0, 12, pixels};
  cmath_vect p0 = {0.5, 1.5}, p1 = {8.5, 1.5};
  uint8_t mean = 0;
  double spacing = 0;
  for (i = 0; i < 48; ++i) pixels[i] = (i % 12) < 4 ? 20 : 220;
  if (cidut_linePixels(&window, &p0, &p1, profile, 8, &mean, &spacing) != 0) return 1;
  if (profile[0] != 19 || profile[7] != 218 || spacing != 1.0) return 2;
  if (cidut_lineEdgeLoc(profile, 8, 4, 50, 0, spacing, values, positions, &count) != 0 || count != 1) return 3;
  if (positions[0] != 896) return 4; /* the step at x = 4.0 lies 3.5 pixels from p0 */
  if (cidut_clusterKMeans_fixed(&params, data, 6, labels, stats, 4, &clusters, &converged) != 0) return 5;
  if (clusters != 2 || labels[0] != 0 || labels[5] != 1 || stats[1].sum != 30) return 6;
  {
    cidut_edgePairingParams pairing;
    cidut_teethResults teeth;
    if (cidut_edgePairingParams_init(&pairing) != 0 || cidut_teethResults_construct(&teeth) != 0) return 7;
    if (pairing.widthRange.end != 1.7 || teeth.bestIndex != -1) return 7; /* the C layout of both records */
    cidut_teethResults_destruct(&teeth);
  }
  {
    const int32_t edges[5] = {0, 100, 200, 300, 405};
    int32_t scratch[5], cells[5], origin = 0, flag = 1;
    if (cidut_cg1dOnGrid(5, edges, scratch, 100, 4, cells, &origin, &flag) != 0 || cells[4] != -1) return 8;
  }
  {
    /* a uniform image has no bars: success, nothing found */
    static uint8_t grey[160 * 120];
    cimg_imageConst image;
    cmath_shapeAffineRect rect;
    int32_t found = 0;
    for (i = 0; i < 160 * 120; ++i) grey[i] = 128;
    if (cimg_imageConst_constructWrap(&image, grey, 160, 120, 160) != 0) return 9;
    if (cid2d_findOneBarcode(&image, &rect, &found) != 0 || found != 0) return 10;
    cimg_imageConst_destruct(&image);
  }
  puts("oned ok");
  return 0;
}
