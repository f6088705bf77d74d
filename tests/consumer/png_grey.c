#include "png_grey.h"

#include <png.h>
#include <stdlib.h>
#include <string.h>

uint8_t* readPngGrey(const char* path, int* width, int* height) {
  png_image image;
  memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path)) return NULL;
  image.format = PNG_FORMAT_GRAY;
  uint8_t* pixels = malloc(PNG_IMAGE_SIZE(image));
  if (pixels == NULL || !png_image_finish_read(&image, NULL, pixels, 0, NULL)) {
    free(pixels);
    png_image_free(&image);
    return NULL;
  }
  *width = (int)image.width;
  *height = (int)image.height;
  return pixels;
}
