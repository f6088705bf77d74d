// The front pass: what it works out once per image stands for each road's own working, so a road
// handed it finds exactly what it finds alone, and nothing of it is used for another image.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reader/datamatrix/dmdenoise.hpp"
#include "reader/datamatrix/dmroad.hpp"
#include "reader/frontpass.hpp"
#include "reader/pdf417/pdfroad.hpp"
#include "scenes/scene.hpp"
#include "scenes/scene_dm.hpp"
#include "scenes/scene_pdf.hpp"

namespace {

template <class Outcome>
std::vector<double> cornersOf(const Outcome& outcome) {
  std::vector<double> all;
  for (const auto& s : outcome.symbols)
    for (const cmath_vect& c : s.corners) all.insert(all.end(), {c.x, c.y});
  return all;
}

// A Data Matrix and a PDF417 side by side; the road's levels: 5 smooths once, 10 twice.
scene::Scene twoSymbols(double noise) {
  return scene::render({.width = 420,
                        .height = 240,
                        .symbols = {scene::encodeDataMatrix("front pass"), scene::encodePdf417("front pass, PDF417")},
                        .placements = {{.centre = {90, 120}, .moduleSize = 4, .angleDeg = 8, .quietZone = 2},
                                       {.centre = {285, 120}, .moduleSize = 2, .angleDeg = -5, .quietZone = 2}},
                        .blurSigma = 0.7,
                        .noiseSigma = noise,
                        .seed = 11});
}

}  // namespace

TEST(FrontPass, StandsForEachRoadsOwnNoiseEstimateAndSmoothing) {
  for (const double noise : {0.0, 4.0, 8.0, 16.0}) {
    const scene::Scene sc = twoSymbols(noise);
    const scene::ImageView view(sc.image);
    cimg_windowConst w;
    ASSERT_EQ(cimg_windowConst_init(&w, &*view), 0);
    idutread::FrontPass front(*view);
    // The road stops its estimate at the level that matters to it; the full one must decide alike.
    for (const double level : {5.0, 10.0})
      EXPECT_EQ(front.noise() > level, dmroad::noiseSigma(w, level) > level) << noise << " at " << level;
    std::vector<uint8_t> once(static_cast<size_t>(w.width) * w.height);
    dmroad::smoothBinomial(w, once.data());
    EXPECT_EQ(std::vector<uint8_t>(front.smoothedOnce(), front.smoothedOnce() + once.size()), once) << noise;

    dmroad::Options dm;
    pdfroad::Options pdf;
    const std::vector<double> dmAlone = cornersOf(dmroad::findAll(*view, dm));
    const std::vector<double> pdfAlone = cornersOf(pdfroad::findAll(*view, pdf));
    EXPECT_FALSE(dmAlone.empty() || pdfAlone.empty()) << noise;
    dm.front = &front;
    pdf.front = &front;
    EXPECT_EQ(cornersOf(dmroad::findAll(*view, dm)), dmAlone) << noise;
    EXPECT_EQ(cornersOf(pdfroad::findAll(*view, pdf)), pdfAlone) << noise;
  }
}

TEST(FrontPass, CoversOnlyItsOwnImageWhole) {
  const scene::Scene sc = twoSymbols(8);
  const scene::ImageView view(sc.image);
  cimg_windowConst w;
  ASSERT_EQ(cimg_windowConst_init(&w, &*view), 0);
  idutread::FrontPass front(*view);
  EXPECT_TRUE(front.covers(w));
  cimg_windowConst left = w, narrower = w, lower = w;
  left.width = 200;  // the Data Matrix alone, from the same first pixel
  narrower.stride += 1;
  lower.pixels += w.stride;
  lower.height -= 1;
  for (const cimg_windowConst& part : {left, narrower, lower}) EXPECT_FALSE(front.covers(part));
  // The left part searched with the whole image's front pass finds what it finds alone.
  cimg_imageConst leftImage;
  ASSERT_EQ(cimg_imageConst_constructWrap(&leftImage, left.pixels, left.width, left.height, left.stride), 0);
  dmroad::Options dm;
  const std::vector<double> alone = cornersOf(dmroad::findAll(leftImage, dm));
  dm.front = &front;
  EXPECT_EQ(cornersOf(dmroad::findAll(leftImage, dm)), alone);
  EXPECT_FALSE(alone.empty());
  cimg_imageConst_destruct(&leftImage);
}

// The noise estimate on plain noise and on a picture filled with small modules: noise keeps its
// size from row to row; modules of two pixels, blurred, change less, and the road searches such
// a picture again unsmoothed when its smoothed copy reads nothing.
TEST(FrontPass, NoiseKeepsItsSizeFromRowToRowAndSmallModulesDoNot) {
  for (const double noise : {8.0, 16.0}) {  // levels the road smooths
    scene::SceneSpec spec;
    spec.width = 300;
    spec.height = 200;
    spec.noiseSigma = noise;
    spec.seed = 5;
    const scene::Scene sc = scene::render(spec);
    const scene::ImageView view(sc.image);
    idutread::FrontPass front(*view);
    EXPECT_NEAR(front.noise(), noise, 0.15 * noise);
    EXPECT_GE(front.noiseRowToRow(), 0.9) << noise;
  }
  scene::Random rng(3);
  scene::DmContent content;
  content.data = scene::fillText(12, scene::DmSizes::squareOnly, rng);
  content.sizeOption = 12;
  const scene::FrameFill fill{.moduleSize = 2, .quietZone = 0, .blurSigma = 0.6, .seed = 9};
  const scene::Scene filled = scene::frameFilling(scene::encodeDataMatrix(content), fill);
  const scene::ImageView view(filled.image);
  idutread::FrontPass front(*view);
  EXPECT_GT(front.noise(), 5.0);  // taken for noisy: smoothed first
  EXPECT_LT(front.noiseRowToRow(), 0.9);
}
