// Phone-photograph renderings of 1D barcodes: a label photographed close up by a phone. The
// barcode fills the frame (its quiet zones cut to one to four modules by the crop), its bars are
// short (8 to 24 pixels), modules are 1.5 to 3 pixels where they are narrowest (the end of the
// label that curves away and lies further off) under a blur of 0.5 to 1.5 pixels, a
// glare band runs along the bars over part of their height, the label is curved round a
// cylinder and seen in perspective, digits are printed under the bars, and the picture is
// saved as a JPEG. Every step keeps the truth: the symbol's corners follow the curvature and
// the crop (the box stays exact at the four corners; in between, the curved bars' ends leave the
// straight sides).
#ifndef IDUT_TOOLS_SCENES_SCENE_PHONE_HPP
#define IDUT_TOOLS_SCENES_SCENE_PHONE_HPP

#include <string>

#include "scenes/scene_1d.hpp"

namespace scene {

// The phone scene of the barcode kind with the data given (as randomData1d makes it).
Scene1d generatePhone1d(Barcode1d kind, const std::string& data, Random& rng);

// JPEG round trip of a grey image at quality 1..100 (libjpeg, in memory).
GreyImage jpegRoundTrip(const GreyImage& image, int quality);

}  // namespace scene

#endif
