#include "reader/oned/onedsymbols.hpp"

#include "reader/oned/road1d.hpp"

namespace road1d {

idut::Symbology frontSymbology(oned::Symbology symbology) {
  switch (symbology) {
    case oned::Symbology::code128: return idut::Symbology::Code128;
    case oned::Symbology::ean13: return idut::Symbology::EAN13;
    case oned::Symbology::upca: return idut::Symbology::UPCA;
    case oned::Symbology::ean8: return idut::Symbology::EAN8;
    case oned::Symbology::code39: return idut::Symbology::Code39;
    case oned::Symbology::itf: return idut::Symbology::ITF;
    case oned::Symbology::upce: return idut::Symbology::UPCE;
    case oned::Symbology::code93: return idut::Symbology::Code93;
    case oned::Symbology::codabar: return idut::Symbology::Codabar;
    case oned::Symbology::databar: return idut::Symbology::DataBar;
    case oned::Symbology::databarExpanded: return idut::Symbology::DataBarExpanded;
    case oned::Symbology::code32: return idut::Symbology::Code32;
    case oned::Symbology::pzn: return idut::Symbology::PZN;
  }
  return idut::Symbology::Code128;
}

csys_status readSymbols(idutread::FrontPass& front, const idut::ReadOptions& options, int limit,
                        std::vector<idut::Symbol>& out) {
  // Symbols the other roads read before this one claim their outlines. Only read ones: an
  // outline located but not read may be a 1D barcode's bars taken for something else.
  Options road;
  for (const idut::Symbol& other : out)
    if (other.decoded && other.decodeError.empty()) {
      Outline q;
      for (int k = 0; k < 4; ++k) q[k] = {other.corners.points[k].x, other.corners.points[k].y};
      road.claimed.push_back(q);
    }
  const Outcome outcome = findAll(front.image(), road);
  // No pixels to window, no memory, or a stop request: what was read before it is kept, as the
  // other roads keep theirs.
  int count = 0;
  for (const Symbol& found : outcome.symbols) {
    const idut::Symbology symbology = frontSymbology(found.symbology);
    if (!options.symbologies.contains(symbology)) continue;
    if (limit > 0 && count >= limit) break;
    idut::Symbol s;
    s.symbology = symbology;
    // The road's corners: the first bar's bottom, the last bar's bottom, the first bar's top, the
    // last bar's top.
    s.corners = idut::Quad::fromCorners({found.corners[0][0], found.corners[0][1]},
                                        {found.corners[1][0], found.corners[1][1]},
                                        {found.corners[2][0], found.corners[2][1]},
                                        {found.corners[3][0], found.corners[3][1]});
    s.score = found.agreeing;
    s.parallelogram = false;
    if (options.decode) {
      s.decoded = true;
      s.text = found.text;
      s.bytes.assign(found.text.begin(), found.text.end());
      s.addOn = found.addOn;
      s.rawText = found.rawText;
      s.symbologyIdentifier = found.identifier;
      // GS1-128 and DataBar carry GS1 element strings.
      if (found.identifier == "]C1" || found.identifier == "]e0") s.contentType = idut::ContentType::GS1;
    }
    out.push_back(std::move(s));
    ++count;
  }
  return outcome.status;
}

}  // namespace road1d
