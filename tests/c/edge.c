/* The edge headers compile as C and their functions link from the shared library: magnitudes,
 * edge points, hysteresis and true peaks of a vertical step. */
#include <stdio.h>

#include "ci_id/edge.h"

int main(void) {
  uint8_t pixels[12 * 8];
  cimg_imageConst source, magnitudeView;
  cimg_image magnitude, angle, peak, edges;
  cip_edgeParams params;
  csEdgeList* list = NULL;
  uint32_t length = 0, count = 0;
  int i;
  for (i = 0; i < 12 * 8; ++i) pixels[i] = (i % 12) < 6 ? 40 : 200;
  cimg_imageConst_constructWrap(&source, pixels, 12, 8, 12);
  cimg_image_constructUnbound(&magnitude);
  cimg_image_constructUnbound(&angle);
  cimg_image_constructUnbound(&peak);
  cimg_image_constructUnbound(&edges);
  /* Sobel / 4 of a step of 160: 160 beside the step, angle 0 (gradient along +x). */
  if (cip_edgeParams_init(&params) != 0 || cip_edge_detectMagAng(&source, &params, &magnitude, &angle) != 0) return 1;
  if (magnitude.window.width != 10 || magnitude.window.pixels[4] != 160 || angle.window.pixels[4] != 0) return 2;
  /* Four points (rows 2..5) on the brighter side of the step. */
  if (cip_edge_detectEdges(&source, &params, &list) != 0 || csEdgeListLen(list, &length) != 0 || length != 4) return 3;
  if (csEdgePi(list, 3) != 6 || csEdgeX(list, 3) < 5.4f || csEdgeX(list, 3) > 5.6f) return 4;
  if (cip_truepeak8(&source, &peak, 10, &count) != 0 || count != 4) return 5;
  /* Hysteresis keeps the two columns beside the step, six rows. */
  cimg_imageConst_constructFromImage(&magnitudeView, &magnitude);
  if (cip_edge_hysteresisThreshold(&magnitudeView, &edges, 50, 150, &count, -1, 0, 255, 1) != 0 || count != 12) return 6;
  cimg_imageConst_destruct(&magnitudeView);
  csEdgeListDelete(&list);
  cimg_image_destruct(&magnitude);
  cimg_image_destruct(&angle);
  cimg_image_destruct(&peak);
  cimg_image_destruct(&edges);
  cimg_imageConst_destruct(&source);
  puts("edge ok");
  return 0;
}
