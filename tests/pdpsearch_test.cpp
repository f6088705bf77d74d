// PDF417 location: the search from a seed on libzint symbols whose bars a grey opening merged
// into one blob, at several rotations; contour limits and the two constructions on drawn shapes.
// The drivers: which edge patterns become seeds (on a flat image each seed
// costs one tracker run that finds nothing), the row driver's neighbour and cross checks, the row
// driver on rendered symbols with the library's peak detector, resuming after claims in the mask;
// bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "ci_id/contourruns.h"
#include "ci_id/morph.h"
#include "ci_id/pdpdriver.h"
#include "ci_id/region.h"
#include "ci_id/peakdetect.h"
#include "support/assert_recorder.hpp"
#include "support/fixtures.hpp"
#include "scenes/scene_pdf.hpp"
#include "support/shapes.hpp"

namespace {

// One search set-up as a driver prepares it, over an image at (0, 0); every row a scan line.
struct Rig {
  explicit Rig(const scene::GreyImage& img) : grey(img), view(grey), scratch(CID2D_SCRATCH_MIN_SIZE / 4) {
    EXPECT_EQ(cimg_image_construct(&marking, (grey.width + 3) / 4, (grey.height + 3) / 4), 0);
    cid2d_trackingParams_init(&params);
    params.scratch = reinterpret_cast<uint8_t*>(scratch.data());
    params.scratchSize = CID2D_SCRATCH_MIN_SIZE;
    for (int y = 0; y < grey.height; ++y) lines.push_back(y);
    params.scanLines = lines.data();
    params.scanLineCount = int32_t(lines.size());
    cbt_runParams_init(&run);
    EXPECT_EQ(cid2d_trackingResult_construct(&result), 0);
    result.trackerRuns = 0;
    EXPECT_EQ(cid_mask_construct(&mask, nullptr), 0);
    for (int x = 0; x < grey.width; ++x) path.push_back({double(x), 20.0});
    profile.assign(size_t(grey.width), 128);
  }
  ~Rig() {
    cid_mask_destruct(&mask);
    cid2d_trackingResult_destruct(&result);
    cimg_image_destruct(&marking);
  }
  cid2d_trackingSeed seed(int32_t row) {  // the first of the library's row seed finder
    cid2d_trackingSeed seeds[8];
    int32_t count = 0;
    EXPECT_EQ(cid2d_getHorizontalTrackingSeeds(view.get(), &row, 1, 8, 45, 0, seeds, &count, 0, 0.0), 0);
    return count > 0 ? seeds[0] : cid2d_trackingSeed{};
  }
  csys_status find(const cid2d_trackingSeed& s, int32_t singleTry = 1) {
    return cf_BndFindPDPSymbolFromSeed(view.get(), &params, &s, &run, &marking, singleTry, nullptr, nullptr, nullptr,
                                       &result);
  }
  csys_status next(int32_t row, const std::vector<int16_t>& e, const std::vector<int16_t>& a,
                   const std::vector<int16_t>& b) {
    params.firstScanLine = row;
    return cf_BndFindNextPDP(view.get(), &params, &mask, nullptr, nullptr, &marking, 1, e.data(), a.data(), b.data(),
                             int32_t(e.size()), int32_t(a.size()), int32_t(b.size()), &result);
  }
  csys_status match(const std::vector<int16_t>& e, int32_t flag, int32_t length) {
    return cf_BndFindMatchingPDP(view.get(), &params, nullptr, nullptr, nullptr, &marking, 1, e.data(),
                                 int32_t(e.size()), length, flag, path.data(), profile.data(), &result);
  }
  int markedCells() const {
    const uint8_t* cells = marking.window.pixels;
    return int(std::count_if(cells, cells + marking.window.height * marking.window.stride,
                             [](uint8_t v) { return v != 0; }));
  }
  cmath_shapeAffineRectPoints points() const {
    cmath_shapeAffineRectPoints p;
    cmath_shapeAffineRect_getPoints(&result.rectangle, &p);
    return p;
  }
  // Largest distance between the located corners (Po, Px, fourth, Py) and the true ones.
  template <class Pts>
  double cornerError(const Pts& truth) const {
    const cmath_shapeAffineRectPoints p = points();
    const cmath_vect found[4] = {p.po, p.px, result.fourthCorner, p.py};
    return worstCornerError(found, truth);
  }
  // The edges of a row from the library's peak detector over the row's profile: sign of the
  // peak, pixel before the edge (the derivative p[i+2] - p[i] stands for sample i + 1).
  std::vector<int16_t> rowEdges(int32_t row, int32_t threshold) const {
    const auto first = grey.pixels.begin() + row * grey.width;
    const std::vector<int32_t> samples(first, first + grey.width);
    cstd_vector_cidc_peakIDFixedX_4 peaks;
    cstd_vector_cidc_peakIDFixedX_4_constructEmpty(&peaks);
    EXPECT_EQ(cidc_runEdgeScanPeakDetection(&grey.width, samples.data(), &threshold, &peaks), 0);
    const cidc_peakIDFixedX_4* b = nullptr;
    uint32_t n = 0;
    cstd_vector_cidc_peakIDFixedX_4_getBeginSizeConst(&peaks, &b, &n);
    std::vector<int16_t> edges;
    for (uint32_t i = 0; i < n; ++i) edges.push_back(int16_t((b[i].value > 0 ? 1 : -1) * ((b[i].position + 8) >> 4)));
    cstd_vector_cidc_peakIDFixedX_4_destruct(&peaks);
    return edges;
  }

  scene::GreyImage grey;
  scene::ImageView view;
  std::vector<int32_t> scratch, lines;  // lines: every row
  std::vector<cmath_vect> path;  // along row 20
  std::vector<uint8_t> profile;  // flat
  cimg_image marking;
  cid2d_trackingParams params;
  cbt_runParams run;
  cid2d_trackingResult result;
  cid_mask mask;
};

scene::GreyImage drawn(int width, int height, const std::vector<shapes::Polygon>& parts) {
  shapes::Canvas canvas(0, 0, width, height, 0, 210);
  canvas.render(shapes::Shape{parts}, 210, 40);
  scene::GreyImage img(width, height);
  std::copy(canvas.buffer.begin(), canvas.buffer.end(), img.pixels.begin());
  return img;
}

// Edges at first, first + w0, ... of alternating polarity (rising first), or all rising.
std::vector<int16_t> edgesFrom(int32_t first, const std::vector<int32_t>& widths, bool alternate = true) {
  std::vector<int16_t> e{int16_t(first)};
  for (size_t i = 0; i < widths.size(); ++i) {
    first += widths[i];
    e.push_back(int16_t(alternate && i % 2 == 0 ? -first : first));
  }
  return e;
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
  for (const Case& c : {Case{pass, 3, 4, 3, 2.0, 0, 0.6}, Case{pass, 2, 4, 2, 1.5, 17, 0.5},
                        Case{pass, 1, 2, 3, 3.0, 90, 1.0},
                        Case{pass, 4, 4, 4, 2.0, 163, 0.8}, Case{licence, 2, 2, 2, 2.5, -38, 0.5}}) {
    const scene::Scene sc = scene::render({.width = 420, .height = 420, .symbols = {scene::encodePdf417(c.text, {c.columns, c.level, c.rowHeight})},
                                           .placements = {{.centre = {210, 210}, .moduleSize = c.module, .angleDeg = c.angle, .quietZone = 2}},
                                           .blurSigma = c.blur, .noiseSigma = 3});
    scene::ImageView raw(sc.image);
    cimg_image opened;
    cimg_image_constructUnbound(&opened);
    const int k = int(std::ceil(9 * c.module));
    ASSERT_EQ(cidut_morph2d_run(raw.get(), &opened, CIDUT_MORPH_OPEN, k, k), 0);
    scene::GreyImage merged(420, 420);
    for (int y = 0; y < 420; ++y) std::copy_n(opened.window.pixels + y * opened.window.stride, 420, &merged.at(0, y));
    cimg_image_destruct(&opened);

    Rig s(merged);
    s.params.firstScanLine = 4;
    const cid2d_trackingSeed seed = s.seed(210);
    ASSERT_EQ(s.find(seed), 0);
    ASSERT_EQ(s.result.found, 1) << "angle " << c.angle;
    EXPECT_LE(s.cornerError(sc.symbols[0].outline()), std::max(2.0, c.module)) << "angle " << c.angle;
    EXPECT_TRUE(s.result.score == 700 && s.result.quality == 1000 && s.result.line == 4 &&
                s.result.threshold == seed.mean && s.result.trackerRuns == 1 && s.markedCells() == 1);
  }
}

// Aspect up to 3 : 1; a small square fitted directly from four runs whose chords stay under 7
// pixels (with a window of 2); a rectangle whose four runs are too long for that, which the hull
// construction takes only when more than one try is allowed.
TEST(PdpSearch, ContourLimitsAndConstructions) {
  struct Case {
    shapes::Polygon shape;
    double minSide;
    int32_t singleTry;
    int found, parallelogram;
  };
  for (const Case& c : {Case{shapes::rectangle(100, 60, 90, 30, 0), 15, 1, 1, -1},
                        Case{shapes::rectangle(100, 60, 96, 30, 0), 15, 1, 0, -1},
                        Case{shapes::rectangle(100, 60, 70, 40, 0.44), 15, 1, 1, -1},
                        Case{shapes::rectangle(100, 60, 12, 12, 0), 4, 0, 1, 0},
                        Case{shapes::rectangle(100, 60, 40, 30, 0), 15, 0, 0, -1},
                        Case{shapes::rectangle(100, 60, 40, 30, 0), 15, 1, 1, -1}}) {
    Rig s(drawn(200, 120, {c.shape}));
    s.params.minSide = c.minSide;
    s.params.minSmoothing = c.minSide < 15 ? 2 : 3;
    ASSERT_EQ(s.find(s.seed(60), c.singleTry), 0);
    EXPECT_GT(s.result.boundary.count, 20u);
    EXPECT_EQ(s.result.found, c.found) << c.shape.vertices[0].x;
    std::vector<shapes::Pt> truth;
    for (const shapes::Pt& v : c.shape.vertices) truth.push_back({v.x + 0.5, v.y + 0.5});
    EXPECT_TRUE(!c.found || (s.cornerError(truth) < 1.5 &&
                             (c.parallelogram < 0 || s.result.parallelogram == c.parallelogram)));
  }
}

// The final checks of a candidate (the mask, the image window) decide found; the quality is 1000
// for the candidate that reached them either way. A claimed region over the rectangle's centre
// (the seed, on its left edge, is not covered) leaves found 0 and quality 1000.
TEST(PdpSearch, QualityIsSetForEveryCandidateThatReachesTheFinalChecks) {
  for (bool claimed : {false, true}) {
    Rig s(drawn(200, 120, {shapes::rectangle(100, 60, 90, 30, 0)}));
    if (claimed) {
      const cmath_vect po{80, 40}, px{130, 40}, py{80, 80};
      cmath_shapeAffineRectPoints pts;
      cmath_shapeAffineRectPoints_init(&pts, &po, &px, &py);
      cid_region region;
      ASSERT_EQ(cid_region_initAffineRectPoints(&region, &pts, nullptr), 0);
      ASSERT_EQ(cid_mask_appendRegion(&s.mask, &region, 0), 0);
    }
    const cid2d_trackingSeed seed = s.seed(60);
    s.result.quality = 0;
    ASSERT_EQ(cf_BndFindPDPSymbolFromSeed(s.view.get(), &s.params, &seed, &s.run, &s.marking, 1, &s.mask, nullptr,
                                          nullptr, &s.result),
              0);
    EXPECT_EQ(std::pair(s.result.found, s.result.quality), std::pair(claimed ? 0 : 1, 1000)) << claimed;
  }
}

// The drivers read the marking cells of the edges they look at, and a marking image of
// floor(w / 4) x floor(h / 4) cells has one for each of them (a cell past its edge reads as
// unmarked): on a 122 x 42 image with 30 x 10 cells, a path pattern still makes its seed and the
// search from a seed still runs. The path driver seeds at an edge's pixel anywhere in the window,
// its outermost rows and columns included; a pixel off the window has no grey value and no seed.
// A path point's pixel is its coordinates + 0.5, truncated: x = -1 gives column 0 (-0.5 -> 0),
// x = -2 column -1.
TEST(PdpDriver, EdgesAnywhereInTheWindowMakeSeeds) {
  const struct {
    double pathRow, pathStart;
    int32_t seeds;
  } rows[] = {{20, 0, 1}, {0, 0, 1}, {41, 0, 1}, {20, -30, 1}, {20, -31, 1}, {42, 0, 0}, {20, -32, 0}};
  for (const auto& row : rows) {
    Rig s(scene::GreyImage(122, 42, 128));
    cimg_image wholeCells;
    ASSERT_EQ(cimg_image_construct(&wholeCells, 122 / 4, 42 / 4), 0);
    for (size_t x = 0; x < s.path.size(); ++x) s.path[x] = {row.pathStart + double(x), row.pathRow};
    const std::vector<int16_t> e = edgesFrom(30, {3, 3, 9, 3, 3});
    ASSERT_EQ(cf_BndFindMatchingPDP(s.view.get(), &s.params, nullptr, nullptr, nullptr, &wholeCells, 1, e.data(),
                                    int32_t(e.size()), 122, 0, s.path.data(), s.profile.data(), &s.result),
              0);
    EXPECT_EQ(s.result.trackerRuns, row.seeds) << row.pathRow << " " << row.pathStart;
    cid2d_trackingSeed seed{};
    seed.x = 60, seed.y = 20, seed.mean = 100;
    seed.startA[0] = 62 * 256, seed.startA[1] = seed.startB[1] = 20 * 256, seed.startB[0] = 59 * 256;
    EXPECT_EQ(cf_BndFindPDPSymbolFromSeed(s.view.get(), &s.params, &seed, &s.run, &wholeCells, 1, nullptr, nullptr,
                                          nullptr, &s.result),
              0);
    EXPECT_EQ(cf_BndFindNextPDP(s.view.get(), &s.params, nullptr, nullptr, nullptr, &wholeCells, 1, e.data(), e.data(),
                                e.data(), 6, 6, 6, &s.result),
              0);
    cimg_image_destruct(&wholeCells);
  }
}

TEST(PdpDriver, PathPatternsThatMakeSeeds) {
  struct Row {
    std::vector<int32_t> widths;
    int32_t flag;
    bool alternate;
    double maxSide;
    int32_t length, seeds;
  };
  for (const Row& r : {Row{{3, 3, 9, 3, 3}, 0, true, 2000, 120, 1}, Row{{3, 3, 14, 3, 3}, 0, true, 2000, 120, 0},
                       Row{{3, 3, 9, 3, 3}, 0, false, 2000, 120, 0}, Row{{3, 3, 9, 3, 3}, 0, true, 20, 120, 0},
                       Row{{3, 3, 9, 3}, 0, true, 2000, 120, 0}, Row{{3, 3, 9, 3, 3}, 0, true, 2000, 40, 0},
                       Row{{2, 6, 2}, 1, true, 2000, 120, 1}, Row{{2, 3, 2}, 1, true, 2000, 120, 0},
                       Row{{2, 6}, 1, true, 2000, 120, 0}}) {
    Rig s(scene::GreyImage(120, 40, 128));
    s.params.maxSide = r.maxSide;
    ASSERT_EQ(s.match(edgesFrom(30, r.widths, r.alternate), r.flag, r.length), 0);
    EXPECT_TRUE(s.result.trackerRuns == r.seeds && s.result.found == 0) << r.widths[2] << " " << r.maxSide;
  }
}

// A drawn pattern (widths 3 3 9 3 3) on row 30, with blobs above and below its middle column
// within the cross check's reach: it is seeded only when both neighbour rows repeat it (the one
// above shifted by up to 8 columns) and both blobs are there; a tracked seed is skipped next time.
TEST(PdpDriver, RowPatternNeedsItsNeighboursAndRowsAcross) {
  struct Row {
    int32_t shiftAbove;
    bool halfBelow, blobAbove;
    int seeds;
  };
  for (const Row& r : {Row{0, false, true, 1}, Row{8, false, true, 1}, Row{9, false, true, 0}, Row{0, true, true, 0},
                       Row{0, false, false, 0}}) {
    std::vector<shapes::Polygon> parts;
    for (const auto& [x0, x1] : {std::pair{30, 40}, std::pair{44, 46}, std::pair{56, 58}, std::pair{62, 70}})
      parts.push_back(shapes::rectangle((x0 + x1) / 2.0, 30, x1 - x0 + 1, 13, 0));
    if (r.blobAbove) parts.push_back(shapes::rectangle(50, 19.5, 5, 4, 0));
    parts.push_back(shapes::rectangle(50, 40.5, 5, 4, 0));
    Rig s(drawn(120, 60, parts));
    const std::vector<int16_t> e = edgesFrom(40, {3, 3, 9, 3, 3});
    std::vector<int16_t> above = e, below = e;
    for (int16_t& v : above) v = int16_t(v < 0 ? v - r.shiftAbove : v + r.shiftAbove);
    if (r.halfBelow) below.resize(3);
    for (int call = 0; call < 2; ++call) {
      ASSERT_EQ(s.next(30, e, above, below), 0);
      EXPECT_TRUE(s.result.trackerRuns == r.seeds && s.result.line == 30) << r.shiftAbove << r.halfBelow << r.blobAbove;
    }
  }
}

// Every fourth row of rendered symbols, neighbours two rows away: each find is claimed and the row
// scanned again until it reports nothing. Every find lies on its symbol and none comes twice.
TEST(PdpDriver, RenderedSymbolsResumeAfterEachClaim) {
  int finds = 0;
  for (uint32_t seed = 1; seed <= 4; ++seed) {
    const scene::ScenePdf sp = scene::generatePdf(scene::ConditionPdf::clean, seed);
    Rig s(sp.scene.image);
    const int32_t threshold = std::abs(int(sp.scene.spec.lightLevel) - int(sp.scene.spec.darkLevel)) / 2;
    const auto outline = sp.scene.symbols[0].outline();
    std::vector<cmath_vect> centres;
    for (int32_t row = 3; row + 3 < s.grey.height; row += 4) {
      const std::vector<int16_t> e = s.rowEdges(row, threshold), a = s.rowEdges(row - 2, threshold),
                                 b = s.rowEdges(row + 2, threshold);
      for (int call = 0; s.next(row, e, a, b) == 0 && s.result.found; ++call) {
        ASSERT_LT(call, 50);
        const cmath_shapeAffineRectPoints p = s.points();
        const cmath_vect c{(p.po.x + s.result.fourthCorner.x) / 2, (p.po.y + s.result.fourthCorner.y) / 2};
        for (int i = 0; i < 4; ++i) {  // on the inner side of each edge of the outline
          const scene::Point &u = outline[i], &v = outline[(i + 1) % 4], &w = outline[(i + 2) % 4];
          auto side = [&](double x, double y) { return (v.x - u.x) * (y - u.y) - (v.y - u.y) * (x - u.x); };
          EXPECT_GT(side(c.x, c.y) * side(w.x, w.y), 0);
        }
        for (const cmath_vect& o : centres) EXPECT_GT(std::hypot(o.x - c.x, o.y - c.y), 1.0);
        centres.push_back(c);
        cid_region region;
        ASSERT_EQ(cid_region_initAffineRectPoints(&region, &p, nullptr), 0);
        ASSERT_EQ(cid_mask_appendRegion(&s.mask, &region, 0), 0);
        ++finds;
      }
    }
  }
  EXPECT_GT(finds, 0);
}

// Bad arguments return their status and write nothing; lists too short for a pattern only reset
// the result; a stop request before a search is returned as it stands.
TEST(PdpDriver, BadInputAndAttention) {
  Rig s(drawn(120, 100, {shapes::rectangle(60, 50, 50, 40, 0)}));
  const cid2d_trackingSeed seed = s.seed(50);
  cimg_image unbound;
  cimg_image_constructUnbound(&unbound);
  const std::vector<int16_t> e = edgesFrom(30, {3, 3, 9, 3, 3}), none;
  struct Row {
    cimg_image* marking;
    const int16_t* edges;
    uint32_t scratchSize;
    csys_status status;
  };
  AssertRecorder asserts;
  for (const Row& r : {Row{&s.marking, nullptr, CID2D_SCRATCH_MIN_SIZE, csys_errAssertion},
                       Row{&s.marking, e.data(), CID2D_SCRATCH_MIN_SIZE - 4, csys_errAssertion},
                       Row{&unbound, e.data(), CID2D_SCRATCH_MIN_SIZE, csys_errImageUnbound}}) {
    s.params.scratchSize = r.scratchSize;
    std::vector<uint8_t> before(sizeof s.result);
    std::memcpy(before.data(), &s.result, sizeof s.result);
    EXPECT_EQ(cf_BndFindNextPDP(s.view.get(), &s.params, nullptr, nullptr, nullptr, r.marking, 1, r.edges, e.data(),
                                e.data(), 6, 6, 6, &s.result), r.status);
    EXPECT_EQ(cf_BndFindMatchingPDP(s.view.get(), &s.params, nullptr, nullptr, nullptr, r.marking, 1, r.edges, 6, 120,
                                    0, s.path.data(), s.profile.data(), &s.result), r.status);
    if (r.edges != nullptr) {
      EXPECT_EQ(cf_BndFindPDPSymbolFromSeed(s.view.get(), &s.params, &seed, &s.run, r.marking, 1, nullptr, nullptr,
                                            nullptr, &s.result), r.status);
    }
    EXPECT_TRUE(std::memcmp(before.data(), &s.result, sizeof s.result) == 0 && s.markedCells() == 0);
  }
  EXPECT_EQ(asserts.count(), 5u);
  s.params.scratchSize = CID2D_SCRATCH_MIN_SIZE;
  s.result.found = 1;
  ASSERT_EQ(s.next(50, none, none, none), 0);
  EXPECT_TRUE(s.result.found == 0 && s.result.line == 50 && s.result.trackerRuns == 0 && s.markedCells() == 0);
  csys_attention_setCallback([](void*) -> csys_status { return static_cast<csys_status>(0x80001234); }, nullptr);
  EXPECT_EQ(s.match(e, 0, 120), static_cast<csys_status>(0x80001234));
  EXPECT_EQ(s.find(seed), static_cast<csys_status>(0x80001234));
  csys_attention_setCallback(nullptr, nullptr);
  EXPECT_EQ(s.result.trackerRuns, 0);  // the poll after the track comes before the count
  cimg_image_destruct(&unbound);
}
