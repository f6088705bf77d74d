// Images: shared pixel buffers freed by their last holder, windows and offsets, transforms;
// the scoped image holders; the base classes' conversions.
#include <gtest/gtest.h>

#include <cmath>

#include "base/cx.hpp"
#include "ci_id/priv/ci_idut/image.h"
#include "support/assert_recorder.hpp"

TEST(Image, BuffersAreSharedAndFreedByTheLastHolder) {
  LiveBlocks live;
  cimg_image a, b;
  ASSERT_EQ(cimg_image_construct(&a, 10, 6), 0);
  ASSERT_EQ(cimg_image_constructCopy(&b, &a), 0);
  a.window.pixels[3 * a.window.stride + 4] = 77;
  EXPECT_EQ(b.window.pixels[3 * b.window.stride + 4], 77);
  cimg_imageConst view;
  ASSERT_EQ(cimg_imageConst_constructFromImage(&view, &a), 0);
  EXPECT_EQ(live.leaked(), 1);
  cimg_image_destruct(&a);
  cimg_image_destruct(&b);
  EXPECT_EQ(live.leaked(), 1);  // the view still holds the pixels
  EXPECT_EQ(view.window.pixels[3 * view.window.stride + 4], 77);
  cimg_imageConst_destruct(&view);
  EXPECT_EQ(live.leaked(), 0);

  // Assigning a new buffer releases the old one; a failing allocation changes nothing.
  ASSERT_EQ(cimg_image_construct(&a, 4, 4), 0);
  {
    FailAllocation fail(1);
    EXPECT_EQ(cimg_image_assignNew(&a, 8, 8), csys_errNoMemory);
  }
  EXPECT_EQ(a.window.width, 4);
  ASSERT_EQ(cimg_image_assignNew(&a, 8, 2), 0);
  EXPECT_TRUE(live.leaked() == 1 && a.window.stride == 8);
  cimg_image_destruct(&a);
  EXPECT_EQ(live.leaked(), 0);
}

TEST(Image, WindowsAddressTheSamePixelsInImageCoordinates) {
  uint8_t pixels[6 * 8];
  for (int i = 0; i < 48; ++i) pixels[i] = static_cast<uint8_t>(i);
  cimg_imageConst img;
  ASSERT_EQ(cimg_imageConst_constructWrap(&img, pixels, 6, 8, 6), 0);
  const cstd_rect32 inner{2, 3, 3, 4};
  ASSERT_EQ(cimg_imageConst_window(&img, &inner), 0);
  cimg_windowConst w;
  ASSERT_EQ(cimg_windowConst_init(&w, &img), 0);
  // Pixel (x, y) at pixels + (y - y0) * stride + (x - x0).
  for (int y = 3; y < 7; ++y)
    for (int x = 2; x < 5; ++x) EXPECT_EQ(w.pixels[(y - w.y0) * w.stride + (x - w.x0)], y * 6 + x);
  const cstd_rect32 outside{1, 3, 3, 4}, tooWide{2, 3, 4, 1};
  EXPECT_EQ(cimg_imageConst_window(&img, &outside), csys_errBadArgument);
  EXPECT_EQ(cimg_imageConst_window(&img, &tooWide), csys_errBadArgument);
  cstd_rect32 r;
  cimg_imageConst_getWindowRect(&img, &r);
  EXPECT_TRUE(r.x == 2 && r.y == 3 && r.width == 3 && r.height == 4);
  ASSERT_EQ(cimg_imageConst_setWindowOffset(&img, 0, 0), 0);
  cimg_windowConst_init(&w, &img);
  EXPECT_EQ(w.pixels[0], 3 * 6 + 2);  // same pixels, new coordinates
  cimg_imageConst_destruct(&img);

  cimg_imageConst unbound;
  cimg_imageConst_constructUnbound(&unbound);
  EXPECT_EQ(cimg_windowConst_init(&w, &unbound), csys_errImageUnbound);
  EXPECT_EQ(cimg_imageConst_window(&unbound, &inner), csys_errImageUnbound);
  cimg_imageConst_destruct(&unbound);
}

TEST(Image, ClientTransformAndItsInverse) {
  cimg_image img;
  cimg_image_construct(&img, 2, 2);
  const cmath_xformLinear x{{2, 0.5, -1, 3}, {10, -4}};
  ASSERT_EQ(cimg_image_setLinearClientFromImageXform(&img, &x), 0);
  cmath_xformLinear inv;
  ASSERT_EQ(cimg_image_getLinearImageFromClientXform(&img, &inv), 0);
  const cmath_vect p{3.5, -7.25};
  cmath_vect q, back;
  cmath_xformLinear_mapPoint(&x, &p, &q);
  cmath_xformLinear_mapPoint(&inv, &q, &back);
  EXPECT_LT(std::hypot(back.x - p.x, back.y - p.y), 1e-12);
  const cmath_xformLinear singular{{1, 2, 2, 4}, {0, 0}};
  cimg_image_setLinearClientFromImageXform(&img, &singular);
  EXPECT_EQ(cimg_image_getLinearImageFromClientXform(&img, &inv), csys_errBadArgument);
  cimg_image_destruct(&img);
}

namespace {
csys_status failingConstruct(cimg_image*) { return csys_errNoMemory; }
}  // namespace

TEST(ImageHolder, ConstructsAndDestructsOnlyWhatItWasGiven) {
  LiveBlocks live;
  cimg_image img;
  {
    cc_ImageAutoPtr holder(&img, true);
    EXPECT_FALSE(cimg_image_isBound(&img));
    ASSERT_EQ(cimg_image_assignNew(&img, 5, 5), 0);
    EXPECT_EQ(live.leaked(), 1);
  }
  EXPECT_EQ(live.leaked(), 0);  // destructed by the holder

  ASSERT_EQ(cimg_image_construct(&img, 3, 3), 0);
  {
    cc_ImageAutoPtr holder(&img, false);  // adopts without constructing
    holder.release();                      // ...and gives it back
  }
  EXPECT_EQ(live.leaked(), 1);
  EXPECT_TRUE(cimg_image_isBound(&img));
  cimg_image_destruct(&img);
  { cc_ImageConstAutoPtr nothing(nullptr, true); }

  // A failing construct throws with the status and the header's path.
  try {
    cc_ImageHolder<cimg_image, failingConstruct, cimg_image_destruct> failing(&img);
    FAIL() << "no exception for " << failing.get();
  } catch (const cxException& e) {
    EXPECT_EQ(e.code(), csys_errNoMemory);
    EXPECT_STREQ(e.path(), "defs/ci_id/priv/ci_idut/image");
    EXPECT_GT(e.line(), 0);
  }
}

TEST(BaseClasses, AnglesNormaliseAndVectorsFreeTheirMemory) {
  EXPECT_NEAR(cxRadian(3 * M_PI).normalized().value(), M_PI, 1e-12);
  EXPECT_NEAR(cxRadian(-3 * M_PI).normalized().value(), M_PI, 1e-12);  // (-pi, pi]
  const cx2Vect p = cx2Xform(cmath_xformLinear{{0, -1, 1, 0}, {5, 6}}) * cx2Vect(1, 2);
  EXPECT_EQ(p, cx2Vect(3, 7));

  LiveBlocks live;
  {
    cxVector<cx2Vect> pts(100);
    EXPECT_EQ(live.leaked(), 1);
  }
  EXPECT_EQ(live.leaked(), 0);
  FailAllocation fail(1);
  EXPECT_THROW(cxVector<uint32_t>(10), std::bad_alloc);
}
