// Every reader at every bar of a line, in both directions.
#include <algorithm>

#include "reader/oned/readline.hpp"
#include "reader/oned/code128.hpp"
#include "reader/oned/code39.hpp"
#include "reader/oned/itf.hpp"
#include "reader/oned/upcean.hpp"
#include "reader/oned/codabar.hpp"
#include "reader/oned/databar.hpp"
#include "reader/oned/databarexp.hpp"
#include "reader/oned/code93.hpp"
#include "reader/oned/upce.hpp"

namespace oned {

const char* symbologyName(Symbology symbology) {
  switch (symbology) {
    case Symbology::code128: return "Code128";
    case Symbology::ean13: return "EAN-13";
    case Symbology::upca: return "UPC-A";
    case Symbology::ean8: return "EAN-8";
    case Symbology::code39: return "Code39";
    case Symbology::itf: return "ITF";
    case Symbology::upce: return "UPC-E";
    case Symbology::code93: return "Code93";
    case Symbology::codabar: return "Codabar";
    case Symbology::databar: return "DataBar";
    case Symbology::databarExpanded: return "DataBarExpanded";
    case Symbology::code32: return "Code32";
    case Symbology::pzn: return "PZN";
  }
  return "?";
}

std::vector<Read> readLine(const std::vector<double>& widths, const Options& options) {
  std::vector<Read> reads;
  const int n = static_cast<int>(widths.size());
  if (n < 3 || n % 2 == 0) return reads;
  std::vector<double> reversed(widths.rbegin(), widths.rend());
  for (int pass = 0; pass < 2; ++pass) {
    const std::vector<double>& w = pass == 0 ? widths : reversed;
    for (int start = 1; start < n; start += 2) {
      Read r;
      // EAN-13 before UPC-E: the left half of an EAN-13 starts like a UPC-E.
      if (!readCode128(w, start, r) && !readUpcEan(w, start, r) && !readUpcE(w, start, r) &&
          !readCode39(w, start, options, r) && !readItf(w, start, options, r) && !readCode93(w, start, r) &&
          !readCodabar(w, start, options, r) && !readDataBar(w, start, r) && !readDataBarExpanded(w, start, r))
        continue;
      if (pass == 1) {
        r.reversed = true;
        const int first = n - 1 - r.lastElement, last = n - 1 - r.firstElement;
        r.firstElement = first;
        r.lastElement = last;
      }
      reads.push_back(r);
      // Bars of a symbol just read start no other symbol.
      start = pass == 0 ? r.lastElement : n - 1 - r.firstElement;
    }
  }
  return reads;
}

}  // namespace oned
