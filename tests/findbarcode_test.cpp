// The bar-direction tests on real libzint barcodes drawn at known angles: the reading direction
// and centre of the single-symbol finder, and the candidate test's verdict and turned region
// for region axes near and far from the bars.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "ci_id/findbarcode.h"
#include "support/assert_recorder.hpp"
#include "scenes/scene.hpp"
#include "scenes/scene_1d.hpp"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct BarScene {
  scene::Scene scene;
  scene::Point centre;  // of the bars, pixel centres on whole numbers
};

BarScene barScene(double angleDeg, double module, double blur = 0.0) {
  return {scene::render({.width = 480, .height = 480, .symbols = {scene::encode1d(scene::Barcode1d::code128, "Bar 4711", 24).bars},
                         .placements = {{.centre = {240.5, 240.5}, .moduleSize = module, .angleDeg = angleDeg, .quietZone = 3}},
                         .blurSigma = blur}),
          {240.0, 240.0}};
}

// Angle between two directions taken as lines, degrees in [0, 90].
double lineAngleDeg(double a, double b) {
  const double d = std::fabs(std::remainder(a - b, kPi));
  return d * 180 / kPi;
}

// Inside the convex outline of the bars (pixel-centre coordinates)?
bool insideBars(const scene::SymbolTruth& t, double x, double y) {
  const auto q = t.outline();
  int sign = 0;
  for (int i = 0; i < 4; ++i) {
    const scene::Point a = q[i], b = q[(i + 1) % 4];
    const double c = (b.x - a.x) * (y - (a.y - 0.5)) - (b.y - a.y) * (x - (a.x - 0.5));
    const int s = c > 0 ? 1 : -1;
    if (sign != 0 && s != sign) return false;
    sign = s;
  }
  return true;
}

TEST(FindOneBarcode, ReadingDirectionAndCentreOnRenderedBars) {
  struct Case {
    double angle, module, blur;
  };
  for (const Case& c : {Case{0, 3, 0}, Case{12, 2, 0}, Case{-25, 3, 0.8}, Case{38, 4, 0}, Case{195, 3, 0},
                        Case{-40, 2.5, 0.6}}) {
    const BarScene s = barScene(c.angle, c.module, c.blur);
    scene::ImageView view(s.scene.image);
    cmath_shapeAffineRect rect;
    int32_t found = 0;
    ASSERT_EQ(cid2d_findOneBarcode(view.get(), &rect, &found), 0);
    ASSERT_EQ(found, 1) << "angle " << c.angle;
    const double xDir = std::atan2(rect.px.y - rect.po.y, rect.px.x - rect.po.x);
    EXPECT_LT(lineAngleDeg(xDir, c.angle * kPi / 180), 4.0) << "angle " << c.angle;
    const double cx = (rect.px.x + rect.py.x) / 2, cy = (rect.px.y + rect.py.y) / 2;
    EXPECT_TRUE(insideBars(s.scene.symbols[0], cx, cy)) << "angle " << c.angle << " centre " << cx << "," << cy;
    EXPECT_LT(std::max(std::fabs(std::hypot(rect.px.x - rect.po.x, rect.px.y - rect.po.y) - 480.0),
                       std::fabs(std::hypot(rect.py.x - rect.po.x, rect.py.y - rect.po.y) - 100.0)), 1e-9);
  }
}

TEST(FindOneBarcode, NothingWithoutBars) {
  const scene::GreyImage dm =
      scene::render({.symbols = {scene::encodeDataMatrix("not a barcode")}, .placements = {{.centre = {160, 120}, .moduleSize = 6}}}).image;
  for (const scene::GreyImage& image : {scene::GreyImage(320, 240, 180), dm}) {
    scene::ImageView view(image);
    cmath_shapeAffineRect rect;
    std::memset(&rect, 0x11, sizeof rect);
    const cmath_shapeAffineRect before = rect;
    int32_t found = 7;
    EXPECT_EQ(cid2d_findOneBarcode(view.get(), &rect, &found), 0);
    EXPECT_TRUE(found == 7 && std::memcmp(&rect, &before, sizeof rect) == 0);
  }
}

// A region over the bars whose y axis is turned by `offsetDeg` from the bars' direction.
cid_region regionAround(const scene::SymbolTruth& t, const scene::Point& c, double offsetDeg) {
  const double a = offsetDeg * kPi / 180, ca = std::cos(a), sa = std::sin(a);
  auto turn = [&](scene::Point p) {
    const double x = p.x - 0.5 - c.x, y = p.y - 0.5 - c.y;
    return cmath_vect{c.x + ca * x - sa * y, c.y + sa * x + ca * y};
  };
  cid_region r;
  const cmath_vect po = turn(t.lCorner), px = turn(t.rowEnd), py = turn(t.columnEnd);
  cid_region_initPoPxPyPopp(&r, &po, &px, &py, nullptr);
  return r;
}

// The bars' direction as the library measures it: from a slope, so with a positive x component
// (or straight down), radians in [0, 2 pi).
double measuredBarDirection(double angleDeg) {
  double d = std::remainder((angleDeg + 90) * kPi / 180, kPi);  // (-pi/2, pi/2]
  if (d <= -kPi / 2 + 1e-9) d += kPi;
  return d < 0 ? d + 2 * kPi : d;
}

// Angle between two directions taken as vectors, degrees in [0, 180].
double vectorAngleDeg(double a, double b) { return std::fabs(std::remainder(a - b, 2 * kPi)) * 180 / kPi; }

TEST(CandidateBarcodeLike, AgreesOnlyNearTheBarDirection) {
  // Slightly blurred bars, so that a step down a column has a strict peak of response. The
  // directions are compared as they are, in [0, 2 pi): the bars of angle 90 lie at 0, and an
  // axis 10 degrees below them lies at 350, which is 350 degrees away and does not agree.
  struct Case {
    double angle, offset;
    bool like;
  };
  const Case cases[] = {
      {0, 0, true},   {0, 10, true},   {0, -12, true},   {0, 30, false},  {0, 180, true},   {0, 170, true},
      {90, 0, true},  {90, 10, true},  {90, -10, false}, {90, 28, false}, {90, 180, true},  {30, 8, true},
      {30, -35, false}, {-65, 0, true}, {-65, 185, true}, {125, -9, true}, {125, 40, false}, {200, 12, true},
  };
  for (const Case& c : cases) {
    const BarScene s = barScene(c.angle, 3, 0.7);
    scene::ImageView view(s.scene.image);
    const cid_region region = regionAround(s.scene.symbols[0], s.centre, c.offset);
    cid_region out;
    std::memset(&out, 0x22, sizeof out);
    int32_t like = 5;
    ASSERT_EQ(cid2d_getIsCandidateBarcodeLike(view.get(), &region, &like, &out), 0);
    EXPECT_EQ(like, c.like ? 1 : 0) << "angle " << c.angle << " offset " << c.offset;
    EXPECT_TRUE(like == 1 || std::memcmp(&out, &region, sizeof out) == 0);  // untouched unless like
    if (like != 1) continue;
    // The region turns by the whole difference of the two directions, so its y axis ends up
    // pointing the way the bars were measured, even from an opposite axis; its centre stays put.
    EXPECT_LT(vectorAngleDeg(std::atan2(out.py.y - out.po.y, out.py.x - out.po.x), measuredBarDirection(c.angle)), 3.0)
        << "angle " << c.angle << " offset " << c.offset;
    cmath_vect c0, c1;
    cid_region_getCenter(&region, &c0);
    cid_region_getCenter(&out, &c1);
    EXPECT_LT(std::hypot(c0.x - c1.x, c0.y - c1.y), 1e-6);
  }
}

TEST(CandidateBarcodeLike, ASharpStepDownAColumnMakesNoSeed) {
  // Bars lying along the rows are crossed by the middle column. A sharp step of contrast c gives
  // the responses |p[y + 3] - p[y]| = 0, c, c, c, 0: no response is strictly above both of its
  // neighbours, so no seed, no bar and no verdict. A blurred step rises and falls: bars found.
  const struct {
    double blur;
    int32_t like;
  } rows[] = {{0.0, 0}, {0.7, 1}};
  for (const auto& row : rows) {
    const BarScene s = barScene(90, 3, row.blur);
    scene::ImageView view(s.scene.image);
    const cid_region region = regionAround(s.scene.symbols[0], s.centre, 0);
    cid_region out;
    int32_t like = 5;
    ASSERT_EQ(cid2d_getIsCandidateBarcodeLike(view.get(), &region, &like, &out), 0);
    EXPECT_EQ(like, row.like) << row.blur;
  }
}

TEST(CandidateBarcodeLike, WorksInPixelsFromTheWindowOrigin) {
  const BarScene s = barScene(0, 3, 0.7);
  // Client coordinates 100 to the right of the pixels: the region is turned about its centre
  // mapped to pixels, c = C - (100, 0), so a turn by delta moves its client centre C to
  // c + R(delta) (100, 0). The bars are measured at 90 degrees and the region's axis points the
  // other way, 8 degrees past it, at 278: delta = 90 - 278 = -188 degrees, that is 172.
  {
    cimg_imageConst image;
    ASSERT_EQ(cimg_imageConst_constructWrap(&image, s.scene.image.pixels.data(), 480, 480, 480), 0);
    const cmath_xformLinear clientFromPixels{{1, 0, 0, 1}, {100, 0}};
    ASSERT_EQ(cimg_imageConst_setLinearClientFromImageXform(&image, &clientFromPixels), 0);
    cid_region region = regionAround(s.scene.symbols[0], s.centre, 8), out;
    for (cmath_vect* p : {&region.po, &region.px, &region.py, &region.popp}) p->x += 100;
    int32_t like = 5;
    ASSERT_EQ(cid2d_getIsCandidateBarcodeLike(&image, &region, &like, &out), 0);
    ASSERT_EQ(like, 1);
    const double delta = std::remainder(std::atan2(out.py.y - out.po.y, out.py.x - out.po.x) -
                                            std::atan2(region.py.y - region.po.y, region.py.x - region.po.x),
                                        2 * kPi);
    EXPECT_NEAR(delta * 180 / kPi, 172.0, 3.0);
    cmath_vect C, moved;
    cid_region_getCenter(&region, &C);
    cid_region_getCenter(&out, &moved);
    EXPECT_NEAR(moved.x, C.x - 100 + 100 * std::cos(delta), 1e-6);
    EXPECT_NEAR(moved.y, C.y + 100 * std::sin(delta), 1e-6);
    cimg_imageConst_destruct(&image);
  }
  // The pixels placed at image column x0: the region's centre lies at x0 + 240 in pixels, and the
  // 100 x 100 window starts at x0 + (x0 + 240) - 50. With x0 = 20 it covers 230 ... 329, inside
  // the image's 20 ... 499; with x0 = 200 it would start at 590, past the last column 679: the
  // window's failure.
  const struct {
    int32_t x0;
    csys_status status;
    int32_t like;
  } rows[] = {{0, 0, 1}, {20, 0, 1}, {200, csys_errBadArgument, 0}};
  for (const auto& row : rows) {
    scene::ImageView view(s.scene.image);
    cimg_imageConst image;
    ASSERT_EQ(cimg_imageConst_constructCopy(&image, view.get()), 0);
    ASSERT_EQ(cimg_imageConst_setWindowOffset(&image, row.x0, 0), 0);
    cid_region region = regionAround(s.scene.symbols[0], s.centre, 0), out;
    for (cmath_vect* p : {&region.po, &region.px, &region.py, &region.popp}) p->x += row.x0;
    int32_t like = 5;
    EXPECT_EQ(cid2d_getIsCandidateBarcodeLike(&image, &region, &like, &out), row.status) << row.x0;
    EXPECT_EQ(like, row.like) << row.x0;
    cimg_imageConst_destruct(&image);
  }
}

TEST(BarcodeTests, BadInputAndAllocationFailures) {
  const BarScene s = barScene(10, 3);
  scene::ImageView view(s.scene.image);
  cmath_shapeAffineRect rect;
  int32_t found = 0, like = 3;
  cid_region region = regionAround(s.scene.symbols[0], s.centre, 0), out;
  {
    AssertRecorder rec;
    EXPECT_EQ(cid2d_findOneBarcode(nullptr, &rect, &found), csys_errAssertion);
    EXPECT_EQ(cid2d_getIsCandidateBarcodeLike(view.get(), nullptr, &like, &out), csys_errAssertion);
    EXPECT_EQ(rec.count(), 2u);
  }
  cimg_imageConst unbound;
  cimg_imageConst_constructUnbound(&unbound);
  EXPECT_EQ(cid2d_findOneBarcode(&unbound, &rect, &found), csys_errImageUnbound);
  cimg_imageConst_destruct(&unbound);

  // An image narrower than the 100 x 50 window of the single-symbol finder: the window's failure.
  const scene::GreyImage narrow(80, 80, 200);
  scene::ImageView narrowView(narrow);
  found = 7;
  EXPECT_EQ(cid2d_findOneBarcode(narrowView.get(), &rect, &found), csys_errBadArgument);
  EXPECT_EQ(found, 7);
  found = 0;

  // A region far outside the image has no pixels to look at.
  cid_region away = region;
  for (cmath_vect* p : {&away.po, &away.px, &away.py, &away.popp}) p->x += 5000;
  EXPECT_EQ(cid2d_getIsCandidateBarcodeLike(view.get(), &away, &like, &out), csys_errBadArgument);
  EXPECT_TRUE(like == 0 && std::memcmp(&out, &away, sizeof out) == 0);

  // Each allocation failing in turn: the flag is 1 on success, still 0 on failure.
  for (bool find : {true, false})
    EXPECT_GE(sweepAllocationFailures([&] {
                int32_t flag = 0;
                const csys_status st = find ? cid2d_findOneBarcode(view.get(), &rect, &flag)
                                            : cid2d_getIsCandidateBarcodeLike(view.get(), &region, &flag, &out);
                return flag != (st == 0 ? 1 : 0) ? csys_errAssertion : st;
              }),
              4u)
        << (find ? "find" : "candidate");
}

}  // namespace
