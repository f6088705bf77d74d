// Working images: normalised coarse and fine copies that share the caller's pixels, and the
// pixel alias handed to searches.
#include <gtest/gtest.h>

#include "ci_id/imagememory.h"
#include "support/assert_recorder.hpp"

namespace {

// A view of a 12 x 10 image windowed to (3, 2) .. (10, 8), pixel value 10 y + x, with a scaling
// client transform.
void makeOffsetView(cimg_image* owner, cimg_imageConst* view) {
  ASSERT_EQ(cimg_image_construct(owner, 12, 10), 0);
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 12; ++x) owner->window.pixels[y * owner->window.stride + x] = static_cast<uint8_t>(10 * y + x);
  ASSERT_EQ(cimg_imageConst_constructFromImage(view, owner), 0);
  const cstd_rect32 rect{3, 2, 8, 7};
  ASSERT_EQ(cimg_imageConst_window(view, &rect), 0);
  const cmath_matrix m{2, 0, 0, 2};
  const cmath_vect t{5, -1};
  cmath_xformLinear scale;
  cmath_xformLinear_initMatrixTrans(&scale, &m, &t);
  ASSERT_EQ(cimg_imageConst_setLinearClientFromImageXform(view, &scale), 0);
}

bool isIdentity(const cmath_xformLinear& x) {
  return x.m.a == 1 && x.m.b == 0 && x.m.c == 0 && x.m.d == 1 && x.t.x == 0 && x.t.y == 0;
}

}  // namespace

TEST(ImageMemoryManager, CopiesStartAtTheOriginWithIdentityTransformAndShareThePixels) {
  LiveBlocks live;
  cimg_image ownerA, ownerB;
  cimg_imageConst coarseView, fineView;
  makeOffsetView(&ownerA, &coarseView);
  makeOffsetView(&ownerB, &fineView);
  ownerB.window.pixels[2 * ownerB.window.stride + 3] = 222;  // tells fine from coarse

  cid2d_imageMemoryManager manager;
  ASSERT_EQ(cid2d_imageMemoryManager_construct(&manager, &coarseView, &fineView), 0);
  for (const cimg_imageConst* copy : {&manager.coarseImage, &manager.fineImage}) {
    EXPECT_EQ(copy->window.x0, 0);
    EXPECT_EQ(copy->window.y0, 0);
    EXPECT_EQ(copy->window.width, 8);
    EXPECT_EQ(copy->window.height, 7);
    EXPECT_TRUE(isIdentity(copy->clientFromImage));
  }
  EXPECT_EQ(manager.coarseImage.window.pixels[0], 23);  // former pixel (3, 2)
  EXPECT_EQ(manager.fineImage.window.pixels[0], 222);
  EXPECT_FALSE(cimg_imageConst_isBound(&manager.coarseWorkingImage));
  EXPECT_FALSE(cimg_imageConst_isBound(&manager.fineWorkingImage));
  EXPECT_EQ(manager.coarseWord | manager.fineWord | manager.extraWord, 0);
  // The caller's views keep their offset and transform.
  EXPECT_EQ(coarseView.window.x0, 3);
  EXPECT_FALSE(isIdentity(coarseView.clientFromImage));

  // Each getter assigns its own image and leaves the other output alone.
  cimg_imageConst coarseOut, fineOut;
  cimg_imageConst_constructUnbound(&coarseOut);
  cimg_imageConst_constructUnbound(&fineOut);
  ASSERT_EQ(cid2d_imageMemoryManager_getFineImage(&manager, &coarseOut, &fineOut), 0);
  EXPECT_FALSE(cimg_imageConst_isBound(&coarseOut));
  EXPECT_EQ(fineOut.window.pixels[0], 222);
  ASSERT_EQ(cid2d_imageMemoryManager_getCoarseImage(&manager, &coarseOut, nullptr), 0);
  EXPECT_EQ(coarseOut.window.pixels[0], 23);
  EXPECT_EQ(coarseOut.window.x0, 0);

  // No pixel was copied: the two owners' buffers are the only blocks, and they live until the
  // last holder lets go.
  EXPECT_EQ(live.leaked(), 2);
  cimg_imageConst_destruct(&coarseView);
  cimg_imageConst_destruct(&fineView);
  cimg_image_destruct(&ownerA);
  cimg_image_destruct(&ownerB);
  EXPECT_EQ(live.leaked(), 2);
  EXPECT_EQ(cid2d_imageMemoryManager_destruct(&manager), 0);
  EXPECT_EQ(live.leaked(), 2);  // the outputs still hold them
  cimg_imageConst_destruct(&coarseOut);
  cimg_imageConst_destruct(&fineOut);
  EXPECT_EQ(live.leaked(), 0);
}

TEST(ImageMemoryManager, AliasSharesThePixelsAndRefusesAnUnboundSource) {
  LiveBlocks live;
  cimg_image owner;
  cimg_imageConst view, out;
  makeOffsetView(&owner, &view);
  cimg_imageConst_constructUnbound(&out);
  int32_t copied = 7;
  ASSERT_EQ(cimg_imageConst_aliasToFastMem(&view, &out, &copied), 0);
  EXPECT_EQ(copied, 0);
  EXPECT_EQ(out.window.pixels, view.window.pixels);
  EXPECT_EQ(out.window.x0, 3);  // a plain alias: window and transform as the source's
  EXPECT_EQ(out.clientFromImage.m.a, 2);

  cimg_imageConst unbound;
  cimg_imageConst_constructUnbound(&unbound);
  copied = 7;
  EXPECT_EQ(cimg_imageConst_aliasToFastMem(&unbound, &out, &copied), csys_errImageUnbound);
  EXPECT_EQ(copied, 7);
  EXPECT_EQ(out.window.pixels, view.window.pixels);

  AssertRecorder asserts;
  EXPECT_EQ(cimg_imageConst_aliasToFastMem(&view, nullptr, &copied), csys_errAssertion);
  EXPECT_EQ(cid2d_imageMemoryManager_construct(nullptr, &view, &view), csys_errAssertion);
  EXPECT_EQ(asserts.count(), 2u);

  cimg_imageConst_destruct(&out);
  cimg_imageConst_destruct(&view);
  cimg_image_destruct(&owner);
  EXPECT_EQ(live.leaked(), 0);
}
