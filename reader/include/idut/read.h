/* idut's front door for C: every symbol of an 8-bit grey image, located and read, in one call.
 *
 *   idut_read_options options;
 *   idut_read_options_init(&options);                 every symbology, decoding on
 *   idut_symbol_list* list = NULL;
 *   int32_t status = idut_read_symbols(pixels, width, height, stride, &options, &list);
 *   for (size_t i = 0; list && i < list->count; ++i)
 *     printf("%s %s\n", idut_symbology_name(list->symbols[i].symbology), list->symbols[i].text);
 *   idut_symbol_list_free(list);
 *
 * The same search as idut::readSymbols (idut/read.hpp, which documents the fields in full).
 * Coordinates are image pixels, pixel (x, y) covering [x, x + 1) x [y, y + 1). Link
 * -lidut_reader (pkg-config idut-reader). */
#ifndef IDUT_READ_H
#define IDUT_READ_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define IDUT_READER_C_API __attribute__((visibility("default")))
#else
#define IDUT_READER_C_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The symbologies, as the values of idut::Symbology; bit k of a mask stands for value k. */
enum {
  IDUT_DATAMATRIX = 0, IDUT_PDF417 = 1, IDUT_CODE128 = 2, IDUT_EAN13 = 3, IDUT_UPCA = 4, IDUT_EAN8 = 5,
  IDUT_CODE39 = 6, IDUT_ITF = 7, IDUT_UPCE = 8, IDUT_CODE93 = 9, IDUT_CODABAR = 10, IDUT_DATABAR = 11,
  IDUT_DATABAR_EXPANDED = 12, IDUT_CODE32 = 13, IDUT_PZN = 14,
  IDUT_SYMBOLOGY_COUNT = 15
};
#define IDUT_ALL_SYMBOLOGIES ((1u << IDUT_SYMBOLOGY_COUNT) - 1u)

/* Content types, as idut::ContentType. */
enum { IDUT_CONTENT_TEXT = 0, IDUT_CONTENT_BINARY = 1, IDUT_CONTENT_GS1 = 2, IDUT_CONTENT_ISO15434 = 3 };

/* Status of a bad argument (csys_errBadArgument); other failures are the library's statuses. */
#define IDUT_ERR_BAD_ARGUMENT ((int32_t)0x80000024)
#define IDUT_ERR_NO_MEMORY ((int32_t)0x80000023)
#define IDUT_ERR_STOPPED ((int32_t)0x80000030)

typedef struct idut_read_options {
  uint32_t symbologies; /* mask of symbologies to look for */
  int decode;           /* nonzero: read the symbols found */
  int step;             /* scan every step-th row, 1..64 */
  int min_size;         /* smallest 2D symbol side in pixels, 0 = default */
  int max_size;         /* largest 2D symbol side in pixels, 0 = default */
  int modules_a;        /* expected Data Matrix module counts, 0 = unknown */
  int modules_b;
  int adaptive;         /* Data Matrix: adaptive-threshold tracking */
  int low_contrast;     /* Data Matrix: weaker edges as seeds */
  int long_rectangles;  /* Data Matrix: also search the whole image turned sixteen ways for the long
                           rectangles (found by default round the outlines the scan leaves) */
  int max_symbols;      /* stop after this many, 0 = no limit */
  /* Polled during the search on the calling thread; nonzero stops it (IDUT_ERR_STOPPED). May be
   * null. */
  int (*stop)(void* context);
  void* stop_context;
} idut_read_options;

/* The defaults: every symbology, decoding on, step 2, no limits. */
IDUT_READER_C_API void idut_read_options_init(idut_read_options* options);

typedef struct idut_point {
  double x, y;
} idut_point;

typedef struct idut_symbol {
  int symbology;
  /* Polygon order: the origin corner, the end of its first side, the opposite corner, the end of
   * its second side. */
  idut_point corners[4];
  int score;
  int parallelogram;
  int decoded;                  /* nonzero when the symbol was read */
  const char* text;             /* UTF-8, NUL-terminated (text_length excludes the NUL; the text may hold NULs) */
  size_t text_length;
  const uint8_t* bytes;         /* the decoded bytes */
  size_t byte_count;
  const char* decode_error;     /* why it was not read; "" when read or not decoded */
  const char* symbology_identifier;
  int content_type;             /* IDUT_CONTENT_* */
  int eci;                      /* first ECI designator, -1 none */
  int reader_init, mirrored, inverted;
  int rows, columns, ec_level;  /* ec_level -1 where the symbology has none */
  int errors_corrected, erasures;
  int append_index;             /* structured append: position from 0, -1 when not part of a message */
  int append_count;             /* symbols in the message, 0 unknown */
  const char* append_id;        /* file id, "" when none */
  int append_last;
  const char* add_on;           /* EAN/UPC add-on digits, "" when none */
  const char* raw_text;         /* characters as carried, where text interprets them; "" otherwise */
} idut_symbol;

typedef struct idut_symbol_list {
  idut_symbol* symbols;
  size_t count;
  const char* error; /* "" on success; else what failed (the symbols found before it are kept) */
  void* internal;    /* owned by the library */
} idut_symbol_list;

/* Locates and reads the symbols of the image. On return *result holds a list to free with
 * idut_symbol_list_free (also after a failure, with what was found before it), or NULL when not
 * even the list could be allocated. Returns 0, IDUT_ERR_BAD_ARGUMENT (null pointers, width or
 * height below 1, stride below width, bad options), IDUT_ERR_STOPPED, or the library's failure
 * status. */
IDUT_READER_C_API int32_t idut_read_symbols(const uint8_t* pixels, int width, int height, int stride,
                                            const idut_read_options* options, idut_symbol_list** result);

/* Frees a list (NULL is fine). */
IDUT_READER_C_API void idut_symbol_list_free(idut_symbol_list* list);

/* "DataMatrix", "EAN-13", ...; "" for a value that is not a symbology. */
IDUT_READER_C_API const char* idut_symbology_name(int symbology);
/* "csys_errNoMemory", ...; "success" for 0. */
IDUT_READER_C_API const char* idut_status_name(int32_t status);

#ifdef __cplusplus
}
#endif

#endif
