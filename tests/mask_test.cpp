// Fixed-point regions and masks: rounding and scan placement, masks with and without an image
// (claims, releases, updates, point and region queries), exact restoration of the mask image,
// and construction that fails part way.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "ci_id/mask.h"
#include "support/assert_recorder.hpp"

namespace {

cid_region quad(cmath_vect po, cmath_vect px, cmath_vect py, cmath_vect popp) {
  cid_region r;
  EXPECT_EQ(cid_region_initPoPxPyPopp(&r, &po, &px, &py, &popp), 0);
  return r;
}

// An upright w x h rectangle with its corner at (x, y), turned by `turn` about its center.
cid_region turnedRect(double x, double y, double w, double h, double turn) {
  const cmath_vect c{x + w / 2, y + h / 2};
  auto at = [&](double dx, double dy) {
    return cmath_vect{c.x + dx * std::cos(turn) - dy * std::sin(turn), c.y + dx * std::sin(turn) + dy * std::cos(turn)};
  };
  cid_region r;
  const cmath_vect po = at(-w / 2, -h / 2), px = at(w / 2, -h / 2), py = at(-w / 2, h / 2);
  EXPECT_EQ(cid_region_initPoPxPyPopp(&r, &po, &px, &py, nullptr), 0);
  return r;
}

// Counts the mask pixels holding value.
int countValue(const cid_mask& m, uint8_t value) {
  int n = 0;
  for (int y = 0; y < m.window.height; ++y)
    for (int x = 0; x < m.window.width; ++x) n += m.window.pixels[y * m.window.stride + x] == value;
  return n;
}

// A 80 x 60 search image whose window starts at image (10, 5); client = image / 2 + (3, -1).
struct SearchImage {
  cimg_imageConst image;
  SearchImage() {
    EXPECT_EQ(cimg_imageConst_construct(&image, 80, 60), 0);
    cimg_imageConst_setWindowOffset(&image, 10, 5);
    const cmath_xformLinear clientFromImage{{0.5, 0, 0, 0.5}, {3, -1}};
    cimg_imageConst_setLinearClientFromImageXform(&image, &clientFromImage);
  }
  ~SearchImage() { cimg_imageConst_destruct(&image); }
};

}  // namespace

TEST(FixedRegion, RoundingAndScans) {
  const cid_region r = quad({2.5 / 256, -2.5 / 256}, {1.0, -1.0}, {-0.75 / 256, 100.0}, {0.5 / 256, -0.5 / 256});
  cid_fixedRegion f;
  ASSERT_EQ(cid_fixedRegion_initRegion(&f, &r), 0);
  EXPECT_EQ(f.po.x, 3);
  EXPECT_EQ(f.po.y, -2);
  EXPECT_EQ(f.px.x, 256);
  EXPECT_EQ(f.px.y, -256);
  EXPECT_EQ(f.py.x, -1);
  EXPECT_EQ(f.py.y, 25600);
  EXPECT_EQ(f.popp.x, 1);
  EXPECT_EQ(f.popp.y, 0);
  EXPECT_EQ(f.isAffine, 0u);

  const cid_fixedRegion keep = f;
  const cid_region bad = quad({NAN, 0}, {1, 0}, {0, 1}, {1, 1});
  EXPECT_EQ(cid_fixedRegion_initRegion(&f, &bad), csys_errBadArgument);
  const cid_region far = quad({0, 0}, {1e8, 0}, {0, 1}, {1, 1});
  EXPECT_EQ(cid_fixedRegion_initRegion(&f, &far), csys_errBadArgument);
  EXPECT_EQ(f.px.x, keep.px.x);

  // One scan runs through the middle; n scans sit at the middles of n equal bands, each within
  // the truncation of a (one unit per half band) of the exact position.
  cid_fixedRegion sq{{0, 0}, {2560, 0}, {0, 1280}, {2560, 1280}, 1};
  cid_fixedPoint first[2], step[2];
  ASSERT_EQ(cid_fixedRegion_sampleScans(&sq, 1, first, step), 0);
  EXPECT_EQ(first[0].y, 640);
  EXPECT_EQ(first[1].x, 2560);
  EXPECT_EQ(first[1].y, 640);
  EXPECT_EQ(step[0].y, 1280);
  std::mt19937 rng(4);
  std::uniform_int_distribution<int32_t> c(-100000, 100000);
  for (int t = 0; t < 200; ++t) {
    const cid_fixedRegion g{{c(rng), c(rng)}, {c(rng), c(rng)}, {c(rng), c(rng)}, {c(rng), c(rng)}, 0};
    const int32_t n = 1 + t % 9;
    ASSERT_EQ(cid_fixedRegion_sampleScans(&g, n, first, step), 0);
    for (int32_t i = 0; i < n; ++i) {
      const double f0 = (2.0 * i + 1) / (2.0 * n);
      const double sx = first[0].x + i * static_cast<double>(step[0].x), ey = first[1].y + i * static_cast<double>(step[1].y);
      EXPECT_LE(std::fabs(sx - (g.po.x + f0 * (g.py.x - g.po.x))), 2.0 * i + 1);
      EXPECT_LE(std::fabs(ey - (g.px.y + f0 * (g.popp.y - g.px.y))), 2.0 * i + 1);
    }
  }
  AssertRecorder rec;
  EXPECT_EQ(cid_fixedRegion_sampleScans(&sq, 0, first, step), csys_errAssertion);
  EXPECT_EQ(rec.count(), 1u);
}

TEST(Mask, RegionListWithoutImage) {
  LiveBlocks live;
  cid_mask m;
  ASSERT_EQ(cid_mask_construct(&m, nullptr), 0);
  EXPECT_EQ(m.hasImage, 0u);
  EXPECT_EQ(m.testCenter, 1u);
  EXPECT_EQ(m.testCorners, 1u);
  EXPECT_EQ(m.freeValue, 255);
  EXPECT_EQ(m.claimedValue, 0);

  const cid_region a = turnedRect(0, 0, 10, 4, 0.3), b = turnedRect(50, 50, 6, 6, -1.0);
  const cmath_vect inA{5, 2}, inB{53, 53}, nowhere{30, 30};
  ASSERT_EQ(cid_mask_appendRegion(&m, &a, 0), 0);
  ASSERT_EQ(cid_mask_appendRegion(&m, &b, 0), 0);
  auto claimed = [&](cmath_vect p, const cmath_xformLinear* x = nullptr) {
    uint32_t flag = 7;
    EXPECT_EQ(cid_mask_isPointUnMasked(&m, &p, x, &flag), 0);
    return flag;
  };
  EXPECT_EQ(claimed(inA), 1u);
  EXPECT_EQ(claimed(inB), 1u);
  EXPECT_EQ(claimed(nowhere), 0u);
  // The transform carries the query into the mask's frame.
  const cmath_xformLinear shift{{1, 0, 0, 1}, {-25, -25}};
  EXPECT_EQ(claimed(cmath_vect{78, 78}, &shift), 1u);
  EXPECT_EQ(claimed(inB, &shift), 0u);

  ASSERT_EQ(cid_mask_removeRegion(&m, 0, 0), 0);  // a leaves, b stays
  EXPECT_EQ(claimed(inA), 0u);
  EXPECT_EQ(claimed(inB), 1u);
  ASSERT_EQ(cid_mask_updateRegion(&m, -1, &a, 0), 0);  // b becomes a
  EXPECT_EQ(claimed(inA), 1u);
  EXPECT_EQ(claimed(inB), 0u);
  ASSERT_EQ(cid_mask_removeRegion(&m, -1, 0), 0);
  EXPECT_EQ(claimed(inA), 0u);
  {
    AssertRecorder rec;
    EXPECT_EQ(cid_mask_removeRegion(&m, -1, 0), csys_errAssertion);  // nothing left to remove
    EXPECT_EQ(cid_mask_updateRegion(&m, 0, &a, 0), csys_errAssertion);
    EXPECT_EQ(rec.count(), 2u);
  }

  // A null mask claims nothing and answers 0.
  uint32_t flag = 7;
  EXPECT_EQ(cid_mask_appendRegion(nullptr, &a, 0), 0);
  EXPECT_EQ(cid_mask_isPointUnMasked(nullptr, &inA, nullptr, &flag), 0);
  EXPECT_EQ(flag, 0u);
  flag = 7;
  EXPECT_EQ(cid_mask_isRegionUnMasked(nullptr, &a, nullptr, 1.0, &flag), 0);
  EXPECT_EQ(flag, 0u);
  ASSERT_EQ(cid_mask_destruct(&m), 0);
  EXPECT_EQ(m.hasImage, 0u);
  EXPECT_EQ(live.leaked(), 0);
}

TEST(Mask, ImagePaintsAndRestores) {
  LiveBlocks live;
  {
    SearchImage s;
    cid_mask m;
    ASSERT_EQ(cid_mask_construct(&m, &s.image), 0);
    ASSERT_EQ(m.hasImage, 1u);
    EXPECT_EQ(m.window.width, 80);
    EXPECT_EQ(m.window.height, 60);
    EXPECT_EQ(m.window.x0, 10);
    EXPECT_EQ(m.window.y0, 5);
    EXPECT_EQ(countValue(m, 255), 80 * 60);

    // An upright client rectangle x 10..16, y 5..9 is image x 14..26, y 12..20; a margin of 1
    // client unit is 2 image pixels, 1 on each side: image x 13..27, y 11..21, i.e. 14 x 10 pixels.
    const cid_region upright = turnedRect(10, 5, 6, 4, 0);
    ASSERT_EQ(cid_mask_appendRegion(&m, &upright, 1.0), 0);
    EXPECT_EQ(countValue(m, 0), 14 * 10);
    auto pixel = [&](int x, int y) { return m.window.pixels[(y - m.window.y0) * m.window.stride + (x - m.window.x0)]; };
    EXPECT_EQ(pixel(13, 11), 0);
    EXPECT_EQ(pixel(26, 20), 0);
    EXPECT_EQ(pixel(27, 20), 255);
    EXPECT_EQ(pixel(12, 11), 255);
    EXPECT_EQ(pixel(13, 21), 255);

    // Point queries read the image: client (9.6, 4.6) is image (13.2, 11.2), a claimed pixel.
    uint32_t flag = 7;
    const cmath_vect edge{9.6, 4.6}, outside{9.4, 4.6}, offImage{-100, 0};
    ASSERT_EQ(cid_mask_isPointUnMasked(&m, &edge, nullptr, &flag), 0);
    EXPECT_EQ(flag, 1u);
    ASSERT_EQ(cid_mask_isPointUnMasked(&m, &outside, nullptr, &flag), 0);
    EXPECT_EQ(flag, 0u);
    ASSERT_EQ(cid_mask_isPointUnMasked(&m, &offImage, nullptr, &flag), 0);
    EXPECT_EQ(flag, 0u);

    // Random turned and sheared regions, some overlapping and some off the image edge: claiming
    // then releasing in reverse order with the same margins leaves every pixel free again.
    std::mt19937 rng(17);
    std::uniform_real_distribution<double> u(0, 1);
    std::vector<double> margins;
    for (int i = 0; i < 12; ++i) {
      cid_region r = turnedRect(u(rng) * 45, u(rng) * 35, 2 + 10 * u(rng), 2 + 10 * u(rng), u(rng) * 6.3);
      if (i % 3 == 1) r.py.x += 2, r.popp.x += 2;  // sheared, still affine
      if (i % 3 == 2) r.popp.x += 1.5, r.isAffine = 0;  // a general quadrilateral
      margins.push_back(u(rng) * 2 - 0.5);
      ASSERT_EQ(cid_mask_appendRegion(&m, &r, margins.back()), 0);
    }
    EXPECT_GT(countValue(m, 0), 14 * 10);
    for (int i = 11; i >= 0; --i) ASSERT_EQ(cid_mask_removeRegion(&m, -1, margins[i]), 0);
    ASSERT_EQ(cid_mask_removeRegion(&m, -1, 1.0), 0);  // the upright one
    EXPECT_EQ(countValue(m, 255), 80 * 60);

    // Update moves the claim; a failed claim (margin not finite) changes nothing.
    const cid_region moved = turnedRect(25, 20, 6, 4, 0);
    ASSERT_EQ(cid_mask_appendRegion(&m, &upright, 1.0), 0);
    ASSERT_EQ(cid_mask_updateRegion(&m, 0, &moved, 1.0), 0);
    EXPECT_EQ(pixel(13, 11), 255);
    EXPECT_EQ(pixel(43, 41), 0);  // the first pixel of the moved claim
    EXPECT_EQ(countValue(m, 0), 14 * 10);
    EXPECT_EQ(cid_mask_appendRegion(&m, &upright, NAN), csys_errBadArgument);
    EXPECT_EQ(cid_mask_updateRegion(&m, 0, &upright, NAN), csys_errBadArgument);
    uint32_t n = 0;
    cstd_vector_cid_region_getSize(&m.regions, &n);
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(countValue(m, 0), 14 * 10);

    // A region of coincident corners paints nothing and releases cleanly.
    const cid_region dot = quad({20, 20}, {20, 20}, {20, 20}, {20, 20});
    ASSERT_EQ(cid_mask_appendRegion(&m, &dot, 0), 0);
    EXPECT_EQ(countValue(m, 0), 14 * 10);
    ASSERT_EQ(cid_mask_removeRegion(&m, -1, 0), 0);
    ASSERT_EQ(cid_mask_removeRegion(&m, 0, 1.0), 0);
    EXPECT_EQ(countValue(m, 255), 80 * 60);
    ASSERT_EQ(cid_mask_destruct(&m), 0);
  }
  EXPECT_EQ(live.leaked(), 0);
}

TEST(Mask, RegionQueries) {
  cid_mask m;
  ASSERT_EQ(cid_mask_construct(&m, nullptr), 0);
  const cid_region a = turnedRect(10, 10, 20, 10, 0.4);
  ASSERT_EQ(cid_mask_appendRegion(&m, &a, 0), 0);
  auto query = [&](const cid_region& q, double distance, const cmath_xformLinear* x = nullptr) {
    uint32_t flag = 7;
    EXPECT_EQ(cid_mask_isRegionUnMasked(&m, &q, x, distance, &flag), 0);
    return flag;
  };
  // The same region: through its center, and with the center test off through its corners.
  EXPECT_EQ(query(a, 0.5), 1u);
  m.testCenter = 0;
  EXPECT_EQ(query(a, 0.5), 1u);
  cid_region shifted;
  const cmath_vect small{0.3, -0.3}, large{0.7, 0};
  cid_region_initShift(&shifted, &small, &a);
  EXPECT_EQ(query(shifted, 0.5), 1u);
  cid_region_initShift(&shifted, &large, &a);
  EXPECT_EQ(query(shifted, 0.5), 0u);
  // Corners listed as Po, Px, Py, Popp match under a cyclic shift of that list (FlipY gives the
  // shift by two), and the distance is measured after the transform.
  cid_region flipped;
  cid_region_initFlipY(&flipped, &a);
  EXPECT_EQ(query(flipped, 0.01), 1u);
  const cmath_xformLinear half{{0.5, 0, 0, 0.5}, {10, 0}};
  const cmath_xformLinear twice{{2, 0, 0, 2}, {-20, 0}};
  cid_region mapped;
  cid_region_initMap(&mapped, &twice, &a);
  cid_region_initShift(&mapped, &large, &mapped);  // 0.35 after halving
  EXPECT_EQ(query(mapped, 0.8, &half), 1u);         // tolerance 0.4 in the mask's frame
  EXPECT_EQ(query(mapped, 0.6, &half), 0u);         // tolerance 0.3
  // A small region inside the claimed one is caught by the center test only.
  const cid_region inner = turnedRect(18, 13, 2, 2, 0);
  EXPECT_EQ(query(inner, 0.5), 0u);
  m.testCenter = 1;
  EXPECT_EQ(query(inner, 0.5), 1u);
  m.testCorners = 0;
  m.testCenter = 0;
  AssertRecorder rec;
  uint32_t flag = 7;
  EXPECT_EQ(cid_mask_isRegionUnMasked(&m, &a, nullptr, 1, &flag), csys_errAssertion);
  EXPECT_EQ(rec.count(), 1u);
  cid_mask_destruct(&m);
}

TEST(Mask, FailedConstructionLeavesNothing) {
  SearchImage s;
  int failures = 0;
  for (uint64_t n = 1; n < 20; ++n) {
    LiveBlocks live;
    cid_mask m;
    csys_status st;
    {
      FailAllocation fail(n);
      st = cid_mask_construct(&m, &s.image);
    }
    if (st == 0) {
      EXPECT_EQ(countValue(m, 255), 80 * 60);
      cid_mask_destruct(&m);
      EXPECT_EQ(live.leaked(), 0);
      break;
    }
    ++failures;
    EXPECT_EQ(st, csys_errNoMemory);
    EXPECT_EQ(live.leaked(), 0) << "allocation " << n;
  }
  EXPECT_GE(failures, 1);

  LiveBlocks live;
  cimg_imageConst unbound;
  cimg_imageConst_constructUnbound(&unbound);
  cid_mask m;
  EXPECT_EQ(cid_mask_construct(&m, &unbound), csys_errImageUnbound);
  EXPECT_EQ(live.leaked(), 0);
  cimg_imageConst_destruct(&unbound);
}
