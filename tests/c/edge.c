/* The edge headers compile as C and their functions link from the shared library: magnitudes,
 * edge points, hysteresis and true peaks of a vertical step. */
#include <stdio.h>

#include "ci_id/edge.h"

int main(void) {
  uint8_t pixels[12 * 8];
  cimg_imageConst source;
  cimg_image magnitude, angle, peak, edges;
  cip_edgeParams params;
  csEdgeList* list = NULL;
  uint32_t length = 0, count = 0, k;
  int i, status = 0;
  for (i = 0; i < 12 * 8; ++i) pixels[i] = (i % 12) < 6 ? 40 : 200;
  cimg_imageConst_constructWrap(&source, pixels, 12, 8, 12);
  cimg_image_constructUnbound(&magnitude);
  cimg_image_constructUnbound(&angle);
  cimg_image_constructUnbound(&peak);
  cimg_image_constructUnbound(&edges);
  if (cip_edgeParams_init(&params) != 0) status = 1;
  /* Sobel / 4 of a step of 160: 160 beside the step, angle 0 (gradient along +x). */
  else if (cip_edge_detectMagAng(&source, &params, &magnitude, &angle) != 0) status = 2;
  else if (magnitude.window.width != 10 || magnitude.window.pixels[4] != 160 || angle.window.pixels[4] != 0) status = 3;
  else if (cip_edge_detectEdges(&source, &params, &list) != 0 || csEdgeListLen(list, &length) != 0) status = 4;
  else if (length != 4) status = 5; /* rows 2..5, on the brighter side of the step */
  else {
    for (k = 0; k < length; ++k)
      if (csEdgePi(list, k) != 6 || csEdgeX(list, k) < 5.4f || csEdgeX(list, k) > 5.6f) status = 6;
  }
  if (status == 0 && (cip_truepeak8(&source, &peak, 10, &count) != 0 || count != 4)) status = 7;
  if (status == 0) {
    cimg_imageConst magnitudeView;
    cimg_imageConst_constructFromImage(&magnitudeView, &magnitude);
    if (cip_edge_hysteresisThreshold(&magnitudeView, &edges, 50, 150, &count, -1, 0, 255, 1) != 0 || count != 12)
      status = 8; /* the two columns beside the step, six rows */
    cimg_imageConst_destruct(&magnitudeView);
  }
  csEdgeListDelete(&list);
  cimg_image_destruct(&magnitude);
  cimg_image_destruct(&angle);
  cimg_image_destruct(&peak);
  cimg_image_destruct(&edges);
  cimg_imageConst_destruct(&source);
  if (status == 0) puts("edge ok");
  return status;
}
