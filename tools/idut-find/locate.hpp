// The library's roads over one grey image, as idut-find runs them.
#ifndef IDUT_FIND_LOCATE_HPP
#define IDUT_FIND_LOCATE_HPP

#include <cstdint>
#include <string>
#include <vector>

#include "base/csys.h"
#include "options.hpp"
#include "result.hpp"

namespace idutfind {

// Runs every road whose symbology the settings select, in the order of symbologyNames(), and
// appends what each finds. Returns false with a message when a road reports a failure (symbols
// found before it are kept; the remaining roads still run). When status is not null it receives
// the library's status of the first failure (0 when every road succeeded).
bool locateSymbols(const uint8_t* pixels, int width, int height, int stride, const LocateSettings& settings,
                   std::vector<Symbol>& symbols, std::string& error, csys_status* status = nullptr);

// Locates the Data Matrix symbols of an 8-bit grey image. Returns false with a message when
// the library reports a failure (symbols found before it are kept).
bool locateDataMatrix(const uint8_t* pixels, int width, int height, int stride, const LocateSettings& settings,
                      std::vector<Symbol>& symbols, std::string& error, csys_status* status = nullptr);

// Locates the PDF417 symbols of an 8-bit grey image (no reader: located only).
bool locatePdf417(const uint8_t* pixels, int width, int height, int stride, const LocateSettings& settings,
                  std::vector<Symbol>& symbols, std::string& error, csys_status* status = nullptr);

// Reads the 1D barcodes (Code 128, EAN-13, UPC-A, EAN-8, Code 39, ITF) of an 8-bit grey image.
bool locate1d(const uint8_t* pixels, int width, int height, int stride, const LocateSettings& settings,
              std::vector<Symbol>& symbols, std::string& error, csys_status* status = nullptr);

// For the roads above: error receives the text of the library's failure st and *status (may be
// null) st; returns false, so that a road ends with `return libraryFailure(st, error, status)`.
bool libraryFailure(csys_status st, std::string& error, csys_status* status);

}  // namespace idutfind

#endif
