/* Reads a PNG file as 8-bit grey with libpng's simplified interface (for the consumer programs). */
#ifndef PNG_GREY_H
#define PNG_GREY_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Returns the pixels (free with free()), width x height bytes, rows packed; NULL on failure. */
uint8_t* readPngGrey(const char* path, int* width, int* height);

#ifdef __cplusplus
}
#endif

#endif
