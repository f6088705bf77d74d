/* The spectra header compiles as C and its functions are reachable through the shared library:
 * a vertical grating's spectrum, centred and made viewable. */
#include <math.h>
#include <stdio.h>

#include "ci_id/spectra.h"

int main(void) {
  /* Columns alternate 0 and 200: all energy at u = 0 and u = 4 (the Nyquist column) of row 0. */
  uint8_t pixels[8 * 4];
  for (int i = 0; i < 32; ++i) pixels[i] = (uint8_t)(i % 2 ? 200 : 0);
  cimg_imageConst source;
  cimg_imageDouble spectrum, centred;
  cimg_image view;
  cimg_imageConst_constructWrap(&source, pixels, 8, 4, 8);
  cimg_imageDouble_constructUnbound(&spectrum);
  cimg_imageDouble_constructUnbound(&centred);
  cimg_image_constructUnbound(&view);
  if (cfPelFFT(&source, &spectrum, CIDUT_FFT_AMPLITUDE, CIDUT_FFT_2D) != 0 || fabs(spectrum.window.pixels[4] - 3200) > 1e-9) return 1;
  if (cfFFTShift(&spectrum, &centred) != 0 || fabs(centred.window.pixels[2 * 8 + 4] - 3200) > 1e-9) return 2;
  if (cfViewableFFT(&centred, &view) != 0 || view.window.pixels[2 * 8 + 4] != 255 || view.window.pixels[0] != 0) return 3;
  if (cf2DFFT_16x16_fixed(pixels, NULL, 0) != cidut_errNotOptimized) return 4;
  cimg_image_destruct(&view);
  cimg_imageDouble_destruct(&centred);
  cimg_imageDouble_destruct(&spectrum);
  puts("c ok");
  return 0;
}
