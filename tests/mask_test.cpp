// Fixed-point regions and masks: rounding and scan placement, masks with and without an image
// (claims, releases, updates, point and region queries) and exact restoration of the mask image;
// allocation failures are swept in the allocation test.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <string>

#include "ci_id/mask.h"
#include "support/assert_recorder.hpp"

namespace {

// An upright w x h rectangle with its corner at (x, y), turned by `turn` about its center.
cid_region turnedRect(double x, double y, double w, double h, double turn) {
  const cmath_shapeAffineRectCenter c{{x + w / 2, y + h / 2}, w, h, turn, turn};
  cid_region r;
  EXPECT_EQ(cid_region_initAffineRectCenter(&r, &c, nullptr), 0);
  return r;
}

int countValue(const cid_mask& m, uint8_t value) {
  int n = 0;
  for (int i = 0; i < m.window.width * m.window.height; ++i)
    n += m.window.pixels[i / m.window.width * m.window.stride + i % m.window.width] == value;
  return n;
}

// A 80 x 60 search image whose window starts at image (10, 5); client = image / 2 + (3, -1), so
// the window covers client x 8 .. 48, y 1.5 .. 31.5.
struct SearchImage {
  cimg_imageConst image;
  SearchImage() {
    const cmath_xformLinear clientFromImage{{0.5, 0, 0, 0.5}, {3, -1}};
    EXPECT_EQ(cimg_imageConst_construct(&image, 80, 60), 0);
    cimg_imageConst_setWindowOffset(&image, 10, 5);
    cimg_imageConst_setLinearClientFromImageXform(&image, &clientFromImage);
  }
  ~SearchImage() { cimg_imageConst_destruct(&image); }
};

}  // namespace

TEST(FixedRegion, RoundingAndScans) {
  // Halves round up on both sides of zero; out-of-range values are refused, output untouched.
  const cmath_vect po{2.5 / 256, -2.5 / 256}, px{1.0, -1.0}, py{-0.75 / 256, 100.0}, popp{0.5 / 256, -0.5 / 256};
  cid_region r;
  cid_fixedRegion f;
  cid_region_initPoPxPyPopp(&r, &po, &px, &py, &popp);
  ASSERT_EQ(cid_fixedRegion_initRegion(&f, &r), 0);
  EXPECT_EQ((std::array<int32_t, 8>{f.po.x, f.po.y, f.px.x, f.px.y, f.py.x, f.py.y, f.popp.x, f.popp.y}),
            (std::array<int32_t, 8>{3, -2, 256, -256, -1, 25600, 1, 0}));
  r.po.x = 1e8;
  EXPECT_TRUE(cid_fixedRegion_initRegion(&f, &r) == csys_errBadArgument && f.po.x == 3);

  // n scans sit at the middles of n equal bands along the Y sides, scan i within the truncation
  // error 2i + 1 of the exact position.
  std::mt19937 rng(4);
  std::uniform_int_distribution<int32_t> c(-100000, 100000);
  cid_fixedPoint first[2], step[2];
  for (int t = 0; t < 200; ++t) {
    const cid_fixedRegion g{{c(rng), c(rng)}, {c(rng), c(rng)}, {c(rng), c(rng)}, {c(rng), c(rng)}, 0};
    const int32_t n = 1 + t % 9;
    ASSERT_EQ(cid_fixedRegion_sampleScans(&g, n, first, step), 0);
    for (int32_t i = 0; i < n; ++i) {
      const double f0 = (2.0 * i + 1) / (2.0 * n);
      EXPECT_LE(std::fabs(first[0].x + i * double(step[0].x) - (g.po.x + f0 * (g.py.x - g.po.x))), 2.0 * i + 1);
      EXPECT_LE(std::fabs(first[1].y + i * double(step[1].y) - (g.px.y + f0 * (g.popp.y - g.px.y))), 2.0 * i + 1);
    }
  }
}

TEST(Mask, ClaimsReleasesAndQueriesWithAndWithoutImage) {
  SearchImage s;
  LiveBlocks live;
  const cid_region a = turnedRect(10, 5, 10, 4, 0.3), b = turnedRect(30, 20, 6, 6, -1.0);
  const cid_region inner = turnedRect(14, 6, 2, 2, 0);
  const cmath_xformLinear shift{{1, 0, 0, 1}, {-10, -10}}, twice{{2, 0, 0, 2}, {-20, 0}};
  const cmath_xformLinear half{{0.5, 0, 0, 0.5}, {10, 0}};
  // a's centre, b's centre, a free point; then b's centre and a free point carried by shift.
  const cmath_vect points[5] = {{15, 7}, {33, 23}, {40, 10}, {43, 33}, {33, 23}};
  auto claims = [&](const cid_mask* mask) {
    std::string flags;
    for (int k = 0; k < 5; ++k) {
      uint32_t f = 7;
      EXPECT_EQ(cid_mask_isPointUnMasked(mask, &points[k], k > 2 ? &shift : nullptr, &f), 0);
      flags += static_cast<char>('0' + f);
    }
    return flags;
  };
  auto regionClaimed = [](cid_mask& m, const cid_region& q, double distance, const cmath_xformLinear* x) {
    uint32_t flag = 7;
    EXPECT_EQ(cid_mask_isRegionUnMasked(&m, &q, x, distance, &flag), 0);
    return flag;
  };
  // a doubled about x = 10, moved by 0.7 and flipped: through half its corners match a's under
  // a cyclic shift to within 0.35, and the query's distance is halved too.
  cid_region moved;
  const cmath_vect off{0.7, 0};
  cid_region_initMap(&moved, &twice, &a);
  cid_region_initShift(&moved, &off, &moved);
  cid_region_initFlipY(&moved, &moved);
  const cimg_imageConst* noImage = nullptr;
  for (const cimg_imageConst* image : {noImage, static_cast<const cimg_imageConst*>(&s.image)}) {
    cid_mask m;
    ASSERT_EQ(cid_mask_construct(&m, image), 0);
    ASSERT_EQ(cid_mask_appendRegion(&m, &a, 0), 0);
    ASSERT_EQ(cid_mask_appendRegion(&m, &b, 0), 0);
    EXPECT_EQ(claims(&m), "11010");
    // A small region inside a is caught by the center test only.
    EXPECT_EQ(regionClaimed(m, inner, 0.5, nullptr), 1u);
    m.testCenter = 0;
    EXPECT_EQ(regionClaimed(m, inner, 0.5, nullptr), 0u);
    EXPECT_TRUE(regionClaimed(m, moved, 0.8, &half) == 1u && regionClaimed(m, moved, 0.6, &half) == 0u);
    ASSERT_EQ(cid_mask_removeRegion(&m, 0, 0), 0);  // a leaves, b stays
    EXPECT_EQ(claims(&m), "01010");
    ASSERT_EQ(cid_mask_updateRegion(&m, -1, &a, 0), 0);  // b becomes a
    EXPECT_EQ(claims(&m), "10000");
    ASSERT_EQ(cid_mask_removeRegion(&m, -1, 0), 0);
    EXPECT_EQ(claims(&m), "00000");
    EXPECT_EQ(countValue(m, 255), image ? 80 * 60 : 0);
    AssertRecorder rec;  // nothing left to remove
    EXPECT_TRUE(cid_mask_removeRegion(&m, -1, 0) == csys_errAssertion && rec.count() == 1u);
    ASSERT_EQ(cid_mask_destruct(&m), 0);
  }
  EXPECT_EQ(live.leaked(), 0);
}

TEST(Mask, ImagePaintsExactRectanglesAndRestoresAndAnUnboundImageIsRefused) {
  SearchImage s;
  LiveBlocks live;
  cid_mask m;
  ASSERT_EQ(cid_mask_construct(&m, &s.image), 0);
  // Random turned, sheared and general regions, overlapping and off the edge, some with negative
  // margins: releasing them in reverse order with the same margins frees every pixel again.
  std::mt19937 rng(17);
  std::uniform_real_distribution<double> u(0, 1);
  auto margin = [](int i) { return (i % 5) * 0.5 - 0.5; };
  for (int i = 0; i < 12; ++i) {
    cid_region r = turnedRect(u(rng) * 45, u(rng) * 35, 2 + 10 * u(rng), 2 + 10 * u(rng), u(rng) * 6.3);
    if (i % 3 == 1) r.py.x += 2, r.popp.x += 2;       // sheared, still affine
    if (i % 3 == 2) r.popp.x += 1.5, r.isAffine = 0;  // a general quadrilateral
    ASSERT_EQ(cid_mask_appendRegion(&m, &r, margin(i)), 0);
  }
  EXPECT_GT(countValue(m, 0), 100);
  for (int i = 11; i >= 0; --i) ASSERT_EQ(cid_mask_removeRegion(&m, -1, margin(i)), 0);
  EXPECT_EQ(countValue(m, 255), 80 * 60);

  // Client x 10..16, y 5..9 is image x 14..26, y 12..20; a margin of 1 client unit is 2 image
  // pixels, 1 on each side: 14 x 10 pixels from image (13, 11).
  const cid_region upright = turnedRect(10, 5, 6, 4, 0);
  auto pixel = [&](int x, int y) { return m.window.pixels[(y - 5) * m.window.stride + (x - 10)]; };
  ASSERT_EQ(cid_mask_appendRegion(&m, &upright, 1.0), 0);
  EXPECT_EQ(countValue(m, 0), 14 * 10);
  EXPECT_TRUE(pixel(13, 11) == 0 && pixel(26, 20) == 0 && pixel(12, 11) == 255 && pixel(27, 20) == 255);
  // A failed claim (margin not finite) changes neither the list nor the image.
  uint32_t n = 7;
  EXPECT_EQ(cid_mask_appendRegion(&m, &upright, NAN), csys_errBadArgument);
  cstd_vector_cid_region_getSize(&m.regions, &n);
  EXPECT_TRUE(n == 1u && countValue(m, 0) == 14 * 10);
  // Released with no margin, only the inner 12 x 8 pixels are freed.
  ASSERT_EQ(cid_mask_removeRegion(&m, -1, 0.0), 0);
  EXPECT_EQ(countValue(m, 0), 14 * 10 - 12 * 8);
  ASSERT_EQ(cid_mask_destruct(&m), 0);
  EXPECT_EQ(live.leaked(), 0);
  cimg_imageConst unbound;
  cimg_imageConst_constructUnbound(&unbound);
  EXPECT_EQ(cid_mask_construct(&m, &unbound), csys_errImageUnbound);
  cimg_imageConst_destruct(&unbound);
}
