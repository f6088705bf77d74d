// Test scenes with one-dimensional barcodes rendered by libzint, drawn through the same
// placement, clutter, blur and noise as the Data Matrix scenes (scene.hpp).
//
// A barcode is drawn as a module matrix whose rows all repeat libzint's row of bars, so its
// SymbolTruth outline (lCorner, rowEnd, opposite, columnEnd) is the exact box of the bars: u runs
// along the symbol from its first bar to the end of its last bar, v across the bars.
#ifndef IDUT_TOOLS_SCENES_SCENE_1D_HPP
#define IDUT_TOOLS_SCENES_SCENE_1D_HPP

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "scenes/scene.hpp"

namespace scene {

enum class Barcode1d {
  code128, gs1_128, ean13, upca, ean8, code39, itf,
  upce, code93, codabar, code39FullAscii, code32, pzn, ean13AddOn, databar, databarExpanded
};
inline constexpr std::array<Barcode1d, 16> kAllBarcodes1d = {
    Barcode1d::code128, Barcode1d::gs1_128, Barcode1d::ean13,           Barcode1d::upca,   Barcode1d::ean8,
    Barcode1d::code39,  Barcode1d::itf,     Barcode1d::upce,            Barcode1d::code93, Barcode1d::codabar,
    Barcode1d::code39FullAscii, Barcode1d::code32, Barcode1d::pzn,      Barcode1d::ean13AddOn, Barcode1d::databar,
    Barcode1d::databarExpanded};
// The kinds crowded scenes add as a second barcode (the first seven, as they always have).
inline constexpr int kSecondBarcodeKinds = 7;
const char* barcodeName(Barcode1d kind);

struct Encoded1d {
  Barcode1d kind = Barcode1d::code128;
  std::string text;  // what a reader returns (see read/oned/oned.hpp for the conventions)
  std::string addOn;  // EAN-13 with add-on: the add-on's digits
  DmSymbol bars;     // rows x cols modules, every row the same
};

// Encodes data (digits without the check digit for EAN/UPC; "[AI]value..." for GS1-128 and
// DataBar expanded) with
// heightModules rows. Throws std::runtime_error with libzint's message on bad data.
Encoded1d encode1d(Barcode1d kind, const std::string& data, int heightModules);

// Random data of a kind, short enough for a scene of a few hundred pixels.
std::string randomData1d(Random& rng, Barcode1d kind);

// phone: what a phone photograph of a label looks like (scene_phone.hpp): the frame filled,
// quiet zones cut to one to four modules, short bars, blur up to 1.5 pixels, glare, a curved
// label, perspective, printed digits under the bars, JPEG artefacts.
enum class Condition1d { clean, rotated, perspective, blurred, noisy, lowContrast, crowded, phone };
inline constexpr std::array<Condition1d, 8> kAllConditions1d = {
    Condition1d::clean, Condition1d::rotated,     Condition1d::perspective, Condition1d::blurred,
    Condition1d::noisy, Condition1d::lowContrast, Condition1d::crowded,     Condition1d::phone};
const char* conditionName(Condition1d condition);

// A scene with one barcode of the kind (scene.symbols[0] is its truth; a crowded scene adds text
// blocks, bar-like clutter, a Data Matrix symbol and a second 1D barcode of another kind after
// it). Module size 1 to 5 pixels; any rotation except for clean scenes (within 10 degrees of the
// x axis either way round).
struct Scene1d {
  Scene scene;
  Encoded1d barcode;
  std::vector<Encoded1d> others;  // the other 1D barcodes of the scene
};
Scene1d generate1d(Barcode1d kind, Condition1d condition, uint32_t seed);

}  // namespace scene

#endif
