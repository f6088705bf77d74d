// The library's Data Matrix road over one grey image, as idut-find runs it.
#ifndef IDUT_FIND_LOCATE_HPP
#define IDUT_FIND_LOCATE_HPP

#include <cstdint>
#include <string>
#include <vector>

#include "options.hpp"
#include "result.hpp"

namespace idutfind {

// Locates the Data Matrix symbols of an 8-bit grey image. Returns false with a message when
// the library reports a failure (symbols found before it are kept).
bool locateDataMatrix(const uint8_t* pixels, int width, int height, int stride, const LocateSettings& settings,
                      std::vector<Symbol>& symbols, std::string& error);

}  // namespace idutfind

#endif
