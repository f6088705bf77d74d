// Data Matrix scan drivers: where a scan starts and stops, resuming after a find, row and column
// peaks and their thresholds, attention, and the adaptive driver's L on rendered symbols.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "ci_id/contourruns.h"
#include "ci_id/dmdriver.h"
#include "ci_id/region.h"
#include "support/assert_recorder.hpp"
#include "support/scene.hpp"
#include "support/shapes.hpp"

namespace {

constexpr uint8_t kLight = 200;
constexpr uint8_t kDark = 50;
constexpr double kDegree = 3.14159265358979323846 / 180;

// A driver set-up: canvas image at (0, 0), marking image, every row (or column) as a scan line,
// default parameters with scratch, a result and an empty mask.
class Driver {
 public:
  Driver(int width, int height, int scanDirection = 1)
      : canvas(0, 0, width, height, 0, kLight), scratch_((CID2D_SCRATCH_MIN_SIZE + 3) / 4) {
    EXPECT_EQ(cimg_imageConst_constructWrap(&image, canvas.windowPixels(), width, height, canvas.stride()), 0);
    EXPECT_EQ(cimg_image_construct(&marking, (width + 3) / 4, (height + 3) / 4), 0);
    cid2d_trackingParams_init(&params);
    params.scratch = reinterpret_cast<uint8_t*>(scratch_.data());
    params.scratchSize = CID2D_SCRATCH_MIN_SIZE;
    params.scanDirection = scanDirection;
    for (int i = 0; i < (scanDirection ? height : width); ++i) lines.push_back(i);
    params.scanLines = lines.data();
    params.scanLineCount = static_cast<int32_t>(lines.size());
    EXPECT_EQ(cid2d_trackingResult_construct(&result), 0);
    EXPECT_EQ(cid_mask_construct(&mask, nullptr), 0);
  }
  ~Driver() {
    cid_mask_destruct(&mask);
    cid2d_trackingResult_destruct(&result);
    cimg_image_destruct(&marking);
    cimg_imageConst_destruct(&image);
  }
  Driver(const Driver&) = delete;
  Driver& operator=(const Driver&) = delete;

  void draw(const std::vector<shapes::Polygon>& parts) {
    shapes::Shape shape;
    shape.parts = parts;
    canvas.render(shape, kLight, kDark);
  }
  csys_status next(int32_t lowContrast = 0) {
    return cf_BndFindNextDMSymbol(&image, &params, &mask, nullptr, nullptr, lowContrast, &marking, &result);
  }
  csys_status nextAdaptive(int32_t lowContrast = 0) {
    return cidut_BoundaryTrackerSearchDMSymbolAdaptiveThreshold(&image, &params, &mask, nullptr, lowContrast,
                                                                 &marking, &result);
  }
  void claim() {
    cid_region region;
    ASSERT_EQ(cid_region_initAffineRect(&region, &result.rectangle, nullptr), 0);
    ASSERT_EQ(cid_mask_appendRegion(&mask, &region, 0), 0);
  }
  cmath_vect centre() const {
    cmath_shapeAffineRectPoints p;
    cmath_shapeAffineRect_getPoints(&result.rectangle, &p);
    return cmath_vect{(p.po.x + result.fourthCorner.x) / 2, (p.po.y + result.fourthCorner.y) / 2};
  }

  shapes::Canvas canvas;
  cimg_imageConst image;
  cimg_image marking;
  cid2d_trackingParams params;
  std::vector<int32_t> lines;
  cid2d_trackingResult result;
  cid_mask mask;

 private:
  std::vector<int32_t> scratch_;
};

}  // namespace

TEST(DmDriver, ScanFromTheEndReturnsAtOnce) {
  Driver d(120, 100);
  d.draw({shapes::rectangle(60, 50, 50, 50, 0)});
  d.result.seed.x = -9;
  d.result.found = 1;
  d.result.score = 5;
  for (int32_t first : {100, 140}) {
    d.params.firstScanLine = first;
    ASSERT_EQ(d.next(), 0);
    EXPECT_EQ(d.result.found, 0);
    EXPECT_EQ(d.result.score, 0);
    EXPECT_EQ(d.result.line, first);
    EXPECT_EQ(d.result.seed.x, -9);  // no seed was searched
  }
}

TEST(DmDriver, ScanResumesAfterEachFindUntilTheLastLine) {
  Driver d(260, 200);
  d.draw({shapes::rectangle(70, 60, 60, 60, 10 * kDegree), shapes::rectangle(180, 130, 70, 70, -25 * kDegree)});
  std::vector<cmath_vect> centres;
  std::vector<int32_t> foundLines;
  for (int call = 0; call < 6; ++call) {
    ASSERT_EQ(d.next(), 0);
    if (!d.result.found) break;
    // The line of a find crosses the symbol; the scan resumes there.
    EXPECT_GE(d.result.line, d.params.firstScanLine);
    foundLines.push_back(d.result.line);
    centres.push_back(d.centre());
    d.claim();
    d.params.firstScanLine = d.result.line;
  }
  ASSERT_EQ(centres.size(), 2u);
  EXPECT_NEAR(centres[0].x, 70, 1.0);
  EXPECT_NEAR(centres[0].y, 60, 1.0);
  EXPECT_NEAR(centres[1].x, 180, 1.0);
  EXPECT_NEAR(centres[1].y, 130, 1.0);
  EXPECT_GE(foundLines[0], 60 - 45);
  EXPECT_LE(foundLines[0], 60 + 45);
  EXPECT_EQ(d.result.line, d.params.scanLineCount);  // the last call ran to the end
}

// Without a mask, the marking image alone keeps a resumed scan from tracking the same outline
// twice: after one track, the seeds on the outline from either side are skipped, whatever the
// outline's phase within the marking cells.
TEST(DmDriver, ResumedScanDoesNotTrackTheSameOutlineAgain) {
  for (int phase = 0; phase < 8; ++phase) {
    Driver d(200, 160);
    d.draw({shapes::rectangle(100 + phase * 0.5, 80, 70.25, 60, 0)});
    ASSERT_EQ(d.next(), 0);
    ASSERT_EQ(d.result.found, 1) << phase;
    // Every seed of the row, searched again from the start of the row.
    std::vector<cid2d_trackingSeed> seeds(16);
    int32_t count = 0, row = d.lines[static_cast<size_t>(d.result.line)];
    ASSERT_EQ(cid2d_getHorizontalTrackingSeeds(&d.image, &row, 1, 16, 45, 0, seeds.data(), &count, 0, 0.0), 0);
    ASSERT_GE(count, 2);
    cbt_runParams run;
    cbt_runParams_init(&run);
    for (int i = 0; i < count; ++i) {
      d.result.boundary.count = 12345;
      ASSERT_EQ(cf_BndFindDMSymbolFromSeed(&d.image, &d.params, &seeds[static_cast<size_t>(i)], &run, &d.marking,
                                           nullptr, nullptr, nullptr, &d.result),
                0);
      EXPECT_EQ(d.result.found, 0) << "phase " << phase << " seed x " << seeds[static_cast<size_t>(i)].x;
      EXPECT_EQ(d.result.boundary.count, 12345u) << "phase " << phase << " seed x " << seeds[static_cast<size_t>(i)].x;
    }
    d.params.firstScanLine = d.result.line;
    ASSERT_EQ(cf_BndFindNextDMSymbol(&d.image, &d.params, nullptr, nullptr, nullptr, 0, &d.marking, &d.result), 0);
    EXPECT_EQ(d.result.found, 0) << phase;
  }
}

TEST(DmDriver, RowPeaksNeedResponse45Or33WithTheLowContrastFlag) {
  // A vertical step of 12 grey levels: six-tap response 36.
  Driver d(120, 40);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 120; ++x) d.canvas.at(x, y) = x < 60 ? 100 : 112;
  d.lines = {20};
  d.params.scanLineCount = 1;
  d.result.seed.strength = -1;
  ASSERT_EQ(d.next(0), 0);
  EXPECT_EQ(d.result.seed.strength, -1);
  ASSERT_EQ(d.next(1), 0);
  EXPECT_EQ(d.result.seed.strength, 36);
  EXPECT_EQ(d.result.seed.x, 59);  // the pixel before the step
  EXPECT_EQ(d.result.seed.y, 20);
  EXPECT_EQ(d.result.seed.line, 0);
  EXPECT_EQ(d.result.seed.polarity, 1);
  EXPECT_EQ(d.result.seed.mean, (100 + 100 + 112 + 112) / 4);
  EXPECT_EQ(d.result.seed.startA[0], 61 * 256);
  EXPECT_EQ(d.result.seed.startB[0], 58 * 256);
  EXPECT_EQ(d.result.found, 0);  // a half-plane is no symbol
}

TEST(DmDriver, ColumnPeaksUseTwoPixelsThreeRowsApartAndThreshold15) {
  for (int step : {14, 15}) {
    Driver d(40, 120, 0);
    for (int y = 0; y < 120; ++y)
      for (int x = 0; x < 40; ++x) d.canvas.at(x, y) = y < 60 ? 150 : 150 - step;
    d.lines = {25};
    d.params.scanLineCount = 1;
    d.result.seed.strength = -1;
    ASSERT_EQ(d.next(), 0);
    if (step == 14) {
      EXPECT_EQ(d.result.seed.strength, -1);
    } else {
      EXPECT_EQ(d.result.seed.strength, 15);
      EXPECT_EQ(d.result.seed.x, 25);
      EXPECT_EQ(d.result.seed.polarity, 0);  // lighter above the step
      EXPECT_EQ(d.result.seed.startA[1], (d.result.seed.y + 2) * 256);
      EXPECT_EQ(d.result.seed.startB[1], (d.result.seed.y - 1) * 256);
      EXPECT_GE(d.result.seed.y, 56);
      EXPECT_LE(d.result.seed.y, 59);
    }
  }
}

TEST(DmDriver, ColumnScanFindsARectangle) {
  Driver d(200, 200, 0);
  d.draw({shapes::rectangle(100, 100, 90, 60, 30 * kDegree)});
  ASSERT_EQ(d.next(), 0);
  ASSERT_EQ(d.result.found, 1);
  EXPECT_NEAR(d.centre().x, 100, 1.0);
  EXPECT_NEAR(d.centre().y, 100, 1.0);
}

TEST(DmDriver, AttentionRequestStopsTheScanWithItsStatus) {
  Driver d(200, 200);
  d.draw({shapes::rectangle(100, 150, 60, 60, 0)});
  struct Counter {
    int calls = 0;
    int stopAt = 0;
  } counter{0, 20};
  csys_attention_setCallback(
      [](void* c) -> csys_status {
        auto* k = static_cast<Counter*>(c);
        return ++k->calls >= k->stopAt ? static_cast<csys_status>(0x80004321) : 0;
      },
      &counter);
  const csys_status plain = d.next();
  const int plainCalls = counter.calls;
  counter.calls = 0;
  const csys_status adaptive = d.nextAdaptive();
  csys_attention_setCallback(nullptr, nullptr);
  EXPECT_EQ(plain, static_cast<csys_status>(0x80004321));
  EXPECT_EQ(adaptive, static_cast<csys_status>(0x80004321));
  EXPECT_EQ(plainCalls, 20);
}

TEST(DmDriver, AdaptiveDriverReportsTheLOfRenderedSymbols) {
  int symbols = 0, lFound = 0;
  for (uint32_t seed = 5000; seed < 5020; ++seed) {
    const scene::Scene sc = scene::generate(scene::Category::clean, seed);
    const scene::ImageView view(sc.image);
    Driver d(sc.image.width, sc.image.height);
    const scene::SymbolTruth& t = sc.symbols[0];
    ++symbols;
    const double tol = std::max(3.0, t.moduleSize);
    auto dist = [](const int32_t* p, const scene::Point& q) { return std::hypot(p[0] - q.x + 0.5, p[1] - q.y + 0.5); };
    for (int call = 0; call < 100; ++call) {
      ASSERT_EQ(cidut_BoundaryTrackerSearchDMSymbolAdaptiveThreshold(view.get(), &d.params, &d.mask, nullptr, 0,
                                                                     &d.marking, &d.result),
                0);
      if (!d.result.found) break;
      const auto& sides = d.result.boundary.sides;
      EXPECT_EQ(sides[0][0], sides[2][0]);  // both sides start at the corner
      EXPECT_EQ(sides[0][1], sides[2][1]);
      // The L corner with both solid sides running towards their ends (the far points are run
      // ends, a few modules short of the symbol's corners).
      if (dist(sides[0], t.lCorner) <= tol) {
        const double toRow1 = dist(sides[1], t.rowEnd), toCol1 = dist(sides[1], t.columnEnd);
        const double toRow3 = dist(sides[3], t.rowEnd), toCol3 = dist(sides[3], t.columnEnd);
        const double sideLength = std::hypot(t.rowEnd.x - t.lCorner.x, t.rowEnd.y - t.lCorner.y);
        if (std::min(toRow1 + toCol3, toCol1 + toRow3) < sideLength / 2) {
          ++lFound;
          break;
        }
      }
      // Claim what was found so the scan moves on.
      cid_region region;
      const cmath_vect k{double(sides[0][0]), double(sides[0][1])}, a{double(sides[1][0]), double(sides[1][1])},
          b{double(sides[3][0]), double(sides[3][1])};
      cmath_shapeAffineRectPoints pts;
      cmath_shapeAffineRectPoints_init(&pts, &k, &a, &b);
      ASSERT_EQ(cid_region_initAffineRectPoints(&region, &pts, nullptr), 0);
      ASSERT_EQ(cid_mask_appendRegion(&d.mask, &region, 0), 0);
      d.params.firstScanLine = d.result.line;
    }
  }
  std::printf("adaptive driver: the L of %d of %d symbols\n", lFound, symbols);
  EXPECT_GE(lFound, symbols * 8 / 10);
}

TEST(DmDriver, Preconditions) {
  Driver d(60, 60);
  AssertRecorder asserts;
  d.params.firstScanLine = -1;
  EXPECT_EQ(d.next(), csys_errAssertion);
  d.params.firstScanLine = 0;
  d.params.scanLines = nullptr;
  EXPECT_EQ(d.next(), csys_errAssertion);
  d.params.scanLines = d.lines.data();
  EXPECT_EQ(cf_BndFindNextDMSymbol(nullptr, &d.params, nullptr, nullptr, nullptr, 0, &d.marking, &d.result),
            csys_errAssertion);
  EXPECT_EQ(asserts.count(), 3u);
  cimg_imageConst unbound;
  cimg_imageConst_constructUnbound(&unbound);
  EXPECT_EQ(cf_BndFindNextDMSymbol(&unbound, &d.params, nullptr, nullptr, nullptr, 0, &d.marking, &d.result),
            csys_errImageUnbound);
}
