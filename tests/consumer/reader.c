/* A C program outside the project that reads symbols through the installed front door. */
#include <stdio.h>
#include <stdlib.h>

#include "idut/read.h"
#include "png_grey.h"

int main(int argc, char** argv) {
  if (argc != 2) return 64;
  int width = 0, height = 0;
  uint8_t* pixels = readPngGrey(argv[1], &width, &height);
  if (pixels == NULL) return 2;
  idut_read_options options;
  idut_read_options_init(&options);
  idut_symbol_list* list = NULL;
  const int32_t status = idut_read_symbols(pixels, width, height, width, &options, &list);
  if (status != 0 || list == NULL) {
    fprintf(stderr, "%s: %s\n", idut_status_name(status), list ? list->error : "no list");
    idut_symbol_list_free(list);
    free(pixels);
    return 3;
  }
  for (size_t i = 0; i < list->count; ++i)
    printf("%s %s\n", idut_symbology_name(list->symbols[i].symbology), list->symbols[i].text);
  idut_symbol_list_free(list);
  free(pixels);
  return 0;
}
