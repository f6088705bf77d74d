// PDF417 search from a seed: libzint symbols whose bars a grey opening has merged into one blob
// are located at several rotations; contour limits, the direct four-side fit and the single-try
// flag on drawn shapes; the mask, the seed's marking cell and the tracker-run count; bad input.
#include <gtest/gtest.h>
#include <zint.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include "ci_id/contourruns.h"
#include "ci_id/morph.h"
#include "ci_id/pdpsearch.h"
#include "ci_id/region.h"
#include "support/assert_recorder.hpp"
#include "support/scene.hpp"
#include "support/shapes.hpp"

namespace {

constexpr double kDegree = 3.14159265358979323846 / 180;

// libzint's PDF417 as a module matrix, each symbol row repeated rowHeight times.
scene::DmSymbol encodePdf417(const char* text, int columns, int level, int rowHeight) {
  std::unique_ptr<zint_symbol, void (*)(zint_symbol*)> sym(ZBarcode_Create(), ZBarcode_Delete);
  sym->symbology = BARCODE_PDF417;
  sym->option_1 = level;
  sym->option_2 = columns;
  if (ZBarcode_Encode(sym.get(), reinterpret_cast<const unsigned char*>(text), int(std::strlen(text))) >= ZINT_ERROR)
    throw std::runtime_error(sym->errtxt);
  scene::DmSymbol out;
  out.rows = sym->rows * rowHeight;
  out.cols = sym->width;
  out.modules.resize(size_t(out.rows) * out.cols);
  for (int r = 0; r < out.rows; ++r)
    for (int c = 0; c < out.cols; ++c)
      out.modules[size_t(r) * out.cols + c] = (sym->encoded_data[r / rowHeight][c >> 3] >> (c & 7)) & 1;
  return out;
}

// One search set-up as a driver prepares it, over an image at (0, 0).
struct Search {
  explicit Search(const scene::GreyImage& img) : grey(img), view(grey), scratch(CID2D_SCRATCH_MIN_SIZE / 4) {
    EXPECT_EQ(cimg_image_construct(&marking, (grey.width + 3) / 4, (grey.height + 3) / 4), 0);
    cid2d_trackingParams_init(&params);
    params.scratch = reinterpret_cast<uint8_t*>(scratch.data());
    params.scratchSize = CID2D_SCRATCH_MIN_SIZE;
    cbt_runParams_init(&run);
    run.closeAtBorder = 1;
    run.saddleByMean = 1;
    run.minPoints = 0;
    run.maxPoints = params.maxContourPoints;
    EXPECT_EQ(cid2d_trackingResult_construct(&result), 0);
    result.trackerRuns = 0;
  }
  ~Search() {
    cid2d_trackingResult_destruct(&result);
    cimg_image_destruct(&marking);
  }
  // The first seed of the library's row seed finder on the row.
  cid2d_trackingSeed seed(int32_t row) {
    cid2d_trackingSeed seeds[8];
    int32_t count = 0;
    EXPECT_EQ(cid2d_getHorizontalTrackingSeeds(view.get(), &row, 1, 8, 45, 0, seeds, &count, 0, 0.0), 0);
    EXPECT_GT(count, 0) << "row " << row;
    return count > 0 ? seeds[0] : cid2d_trackingSeed{};
  }
  csys_status find(const cid2d_trackingSeed& s, int32_t singleTry = 1, const cid_mask* mask = nullptr) {
    return cf_BndFindPDPSymbolFromSeed(view.get(), &params, &s, &run, &marking, singleTry, mask, nullptr, nullptr,
                                       &result);
  }
  int markedCells() const {
    int n = 0;
    for (int y = 0; y < marking.window.height; ++y)
      for (int x = 0; x < marking.window.width; ++x) n += marking.window.pixels[y * marking.window.stride + x] != 0;
    return n;
  }
  // Largest distance between the located corners and the true outline under the best pairing.
  template <class Pts>
  double cornerError(const Pts& truth) const {
    cmath_shapeAffineRectPoints p;
    cmath_shapeAffineRect_getPoints(&result.rectangle, &p);
    const cmath_vect found[4] = {p.po, p.px, result.fourthCorner, p.py};
    std::array<int, 4> perm{0, 1, 2, 3};
    double best = 1e300;
    do {
      double worst = 0;
      for (int i = 0; i < 4; ++i)
        worst = std::max(worst, std::hypot(found[perm[i]].x - truth[i].x, found[perm[i]].y - truth[i].y));
      best = std::min(best, worst);
    } while (std::next_permutation(perm.begin(), perm.end()));
    return best;
  }

  scene::GreyImage grey;
  scene::ImageView view;
  std::vector<int32_t> scratch;
  cimg_image marking;
  cid2d_trackingParams params;
  cbt_runParams run;
  cid2d_trackingResult result;
};

scene::GreyImage drawn(int width, int height, const shapes::Polygon& shape) {
  shapes::Canvas canvas(0, 0, width, height, 0, 210);
  canvas.render(shapes::Shape{{shape}}, 210, 40);
  scene::GreyImage img(width, height);
  std::copy(canvas.buffer.begin(), canvas.buffer.end(), img.pixels.begin());
  return img;
}

}  // namespace

// The grey opening (minimum, then maximum) over a window wider than the widest space closes the
// bars into one dark quadrilateral whose outline is the symbol's. Seeded on the left edge of the
// centre row, the search returns the symbol's corners; only the seed's cell is marked.
TEST(PdpSearch, MergedSymbolsAreLocatedAtSeveralRotations) {
  struct Case {
    const char* text;
    int columns, level, rowHeight;
    double module, angle, blur;
  };
  const char* const pass = "Boarding pass 0042 ZRH-LHR";
  const char* const licence = "DL 4711 SMITH JOHN 1984-02-29 CLASS C 1200 MAIN ST SPRINGFIELD 62704 EXP 2031-01-01 HGT";
  const Case cases[] = {{pass, 3, 4, 3, 2.0, 0, 0.6},    {pass, 2, 4, 2, 1.5, 17, 0.5},
                        {pass, 1, 2, 3, 3.0, 90, 1.0},   {pass, 4, 4, 4, 2.0, 163, 0.8},
                        {licence, 2, 2, 2, 2.5, -38, 0.5}};
  for (const Case& c : cases) {
    scene::SceneSpec spec;
    spec.width = 420;
    spec.height = 420;
    spec.blurSigma = c.blur;
    spec.noiseSigma = 3;
    spec.symbols.push_back(encodePdf417(c.text, c.columns, c.level, c.rowHeight));
    scene::Placement pl;
    pl.centre = {210, 210};
    pl.moduleSize = c.module;
    pl.angleDeg = c.angle;
    pl.quietZone = 2;
    spec.placements.push_back(pl);
    const scene::Scene sc = scene::render(spec);
    const int k = int(std::ceil(9 * c.module));
    scene::ImageView raw(sc.image);
    cimg_image opened;
    cimg_image_constructUnbound(&opened);
    ASSERT_EQ(cidut_morph2d_run(raw.get(), &opened, CIDUT_MORPH_OPEN, k, k), 0);
    scene::GreyImage merged(spec.width, spec.height);
    for (int y = 0; y < spec.height; ++y)
      std::copy_n(opened.window.pixels + y * opened.window.stride, spec.width, &merged.at(0, y));
    cimg_image_destruct(&opened);

    Search s(merged);
    s.params.firstScanLine = 4;
    const cid2d_trackingSeed seed = s.seed(210);
    ASSERT_EQ(s.find(seed), 0);
    ASSERT_EQ(s.result.found, 1) << "angle " << c.angle;
    EXPECT_LE(s.cornerError(sc.symbols[0].outline()), std::max(2.0, c.module)) << "angle " << c.angle;
    EXPECT_TRUE(s.result.score == 700 && s.result.quality == 1000 && s.result.line == 4 &&
                s.result.threshold == seed.mean && s.result.trackerRuns == 1);
    EXPECT_EQ(s.markedCells(), 1);
    EXPECT_NE(s.marking.window.pixels[(seed.y >> 2) * s.marking.window.stride + (seed.x >> 2)], 0);
    cmath_shapeAffineRectPoints p;
    cmath_shapeAffineRect_getPoints(&s.result.rectangle, &p);
    const cmath_vect e1{p.px.x - p.po.x, p.px.y - p.po.y}, e2{p.py.x - p.po.x, p.py.y - p.po.y};
    EXPECT_LE(cmath_vect_cross(&e1, &e2), 0);
  }
}

// Outline limits and the two constructions on drawn blobs: aspect up to 3 : 1, a small square
// fitted directly from its four runs, and a larger rectangle whose four runs are too long for
// the direct fit (whose chords must stay under 7 pixels), which the hull construction takes only when more than one try is allowed.
TEST(PdpSearch, ContourLimitsAndConstructions) {
  struct Case {
    shapes::Polygon shape;
    double minSide;
    int32_t singleTry;
    int found, parallelogram;
  };
  const Case cases[] = {
      {shapes::rectangle(100, 60, 90, 30, 0), 15, 1, 1, -1},            // 3 : 1
      {shapes::rectangle(100, 60, 96, 30, 0), 15, 1, 0, -1},            // 3.2 : 1
      {shapes::rectangle(100, 60, 70, 40, 25 * kDegree), 15, 1, 1, -1},
      {shapes::rectangle(100, 60, 12, 12, 0), 4, 0, 1, 0},              // four short runs
      {shapes::rectangle(100, 60, 40, 30, 0), 15, 0, 0, -1},            // four long runs, one try
      {shapes::rectangle(100, 60, 40, 30, 0), 15, 1, 1, -1},
  };
  for (const Case& c : cases) {
    Search s(drawn(200, 120, c.shape));
    s.params.minSide = c.minSide;
    s.params.minSmoothing = c.minSide < 15 ? 2 : 3;  // a window of 2 leaves a small square its sides
    ASSERT_EQ(s.find(s.seed(60), c.singleTry), 0);
    EXPECT_GT(s.result.boundary.count, 20u);
    EXPECT_EQ(s.result.found, c.found) << "case " << &c - cases;
    if (c.found) {
      std::vector<shapes::Pt> truth;
      for (const shapes::Pt& v : c.shape.vertices) truth.push_back({v.x + 0.5, v.y + 0.5});
      EXPECT_LT(s.cornerError(truth), 1.5) << "case " << &c - cases;
      EXPECT_TRUE(c.parallelogram < 0 || s.result.parallelogram == c.parallelogram);
    }
  }
}

// A seed inside a claimed region is not tracked; an outline whose quadrilateral is claimed is
// tracked and counted but not reported; a seed whose cell is marked is skipped.
TEST(PdpSearch, MaskAndMarkingSkipWhatIsDone) {
  Search s(drawn(200, 120, shapes::rectangle(100, 60, 70, 40, 0)));
  cid_mask mask;
  ASSERT_EQ(cid_mask_construct(&mask, nullptr), 0);
  const cid2d_trackingSeed seed = s.seed(60);
  const cmath_vect o{65.5, 40.5}, x{135.5, 40.5}, y{65.5, 80.5};  // the rectangle itself
  cmath_shapeAffineRectPoints pts;
  cmath_shapeAffineRectPoints_init(&pts, &o, &x, &y);
  cid_region region;
  ASSERT_EQ(cid_region_initAffineRectPoints(&region, &pts, nullptr), 0);
  ASSERT_EQ(cid_mask_appendRegion(&mask, &region, 0), 0);
  ASSERT_EQ(s.find(seed, 1, &mask), 0);
  EXPECT_TRUE(s.result.found == 0 && s.result.trackerRuns == 1 && s.markedCells() == 1);

  cid_mask inner;
  ASSERT_EQ(cid_mask_construct(&inner, nullptr), 0);
  const cmath_vect io{90, 50}, ix{110, 50}, iy{90, 70};
  cmath_shapeAffineRectPoints_init(&pts, &io, &ix, &iy);
  ASSERT_EQ(cid_region_initAffineRectPoints(&region, &pts, nullptr), 0);
  ASSERT_EQ(cid_mask_appendRegion(&inner, &region, 0), 0);
  cid2d_trackingSeed covered = seed;
  covered.x = 100;
  ASSERT_EQ(s.find(covered, 1, &inner), 0);
  EXPECT_TRUE(s.result.found == 0 && s.result.trackerRuns == 1);
  ASSERT_EQ(s.find(seed), 0);  // its cell is marked now
  EXPECT_TRUE(s.result.found == 0 && s.result.trackerRuns == 1);
  cid_mask_destruct(&inner);
  cid_mask_destruct(&mask);
}

// Bad arguments return their status before anything is written; a stop request is returned.
TEST(PdpSearch, BadInputWritesNothing) {
  Search s(drawn(120, 100, shapes::rectangle(60, 50, 50, 40, 0)));
  const cid2d_trackingSeed seed = s.seed(50);
  cimg_image unbound, small;
  cimg_image_constructUnbound(&unbound);
  ASSERT_EQ(cimg_image_construct(&small, 29, 25), 0);
  uint32_t scratchSize = CID2D_SCRATCH_MIN_SIZE - 1;
  struct Row {
    bool nullSeed, nullResult;
    cimg_image* marking;
    uint32_t scratchSize;
    csys_status status;
  };
  AssertRecorder asserts;
  for (const Row& r : {Row{true, false, &s.marking, CID2D_SCRATCH_MIN_SIZE, csys_errAssertion},
                       Row{false, true, &s.marking, CID2D_SCRATCH_MIN_SIZE, csys_errAssertion},
                       Row{false, false, &s.marking, scratchSize, csys_errAssertion},
                       Row{false, false, &unbound, CID2D_SCRATCH_MIN_SIZE, csys_errImageUnbound},
                       Row{false, false, &small, CID2D_SCRATCH_MIN_SIZE, cidut_errBadArgument}}) {
    s.params.scratchSize = r.scratchSize;
    std::vector<uint8_t> before(sizeof s.result);
    std::memcpy(before.data(), &s.result, sizeof s.result);
    EXPECT_EQ(cf_BndFindPDPSymbolFromSeed(s.view.get(), &s.params, r.nullSeed ? nullptr : &seed, &s.run, r.marking, 1,
                                          nullptr, nullptr, nullptr, r.nullResult ? nullptr : &s.result),
              r.status);
    EXPECT_EQ(std::memcmp(before.data(), &s.result, sizeof s.result), 0);
    EXPECT_EQ(s.markedCells(), 0);
  }
  EXPECT_EQ(asserts.count(), 3u);
  s.params.scratchSize = CID2D_SCRATCH_MIN_SIZE;
  csys_attention_setCallback([](void*) -> csys_status { return static_cast<csys_status>(0x80001234); }, nullptr);
  const csys_status st = s.find(seed);
  csys_attention_setCallback(nullptr, nullptr);
  EXPECT_EQ(st, static_cast<csys_status>(0x80001234));
  cimg_image_destruct(&small);
  cimg_image_destruct(&unbound);
}
