// Working images: normalised coarse and fine copies that share the caller's pixels, and the
// pixel alias handed to searches.
#include <gtest/gtest.h>

#include <utility>

#include "ci_id/imagememory.h"
#include "support/assert_recorder.hpp"

namespace {

// A view of a 12 x 10 image windowed to (3, 2) .. (10, 8), with pixel (3, 2) set to `first` and
// a scaling client transform.
void makeOffsetView(cimg_image* owner, cimg_imageConst* view, uint8_t first) {
  ASSERT_EQ(cimg_image_construct(owner, 12, 10), 0);
  owner->window.pixels[2 * owner->window.stride + 3] = first;
  ASSERT_EQ(cimg_imageConst_constructFromImage(view, owner), 0);
  const cstd_rect32 rect{3, 2, 8, 7};
  ASSERT_EQ(cimg_imageConst_window(view, &rect), 0);
  const cmath_xformLinear scale{{2, 0, 0, 2}, {5, -1}};
  ASSERT_EQ(cimg_imageConst_setLinearClientFromImageXform(view, &scale), 0);
}

}  // namespace

// Both copies start at (0, 0) with the identity transform over the caller's own pixels (no block
// is allocated), the caller's views keep theirs, and the pixels live until the last holder lets
// go. Refused constructions hold on to nothing.
TEST(ImageMemoryManager, NormalisedCopiesAndAliasShareTheCallersPixels) {
  LiveBlocks live;
  cimg_image ownerA, ownerB;
  cimg_imageConst coarseView, fineView;
  makeOffsetView(&ownerA, &coarseView, 23);
  makeOffsetView(&ownerB, &fineView, 222);
  cid2d_imageMemoryManager manager;
  {
    AssertRecorder asserts;
    EXPECT_EQ(cid2d_imageMemoryManager_construct(&manager, &coarseView, nullptr), csys_errAssertion);
    EXPECT_EQ(asserts.count(), 1u);
  }
  ASSERT_EQ(cid2d_imageMemoryManager_construct(&manager, &coarseView, &fineView), 0);
  EXPECT_EQ(live.leaked(), 2);
  for (const auto& [copy, first] : {std::pair{&manager.coarseImage, 23}, std::pair{&manager.fineImage, 222}}) {
    const cimg_windowConst& w = copy->window;
    EXPECT_TRUE(w.x0 == 0 && w.y0 == 0 && w.width == 8 && w.height == 7 && w.pixels[0] == first);
    const cmath_xformLinear& x = copy->clientFromImage;
    EXPECT_TRUE(x.m.a == 1 && x.m.b == 0 && x.m.c == 0 && x.m.d == 1 && x.t.x == 0 && x.t.y == 0);
  }
  EXPECT_TRUE(coarseView.window.x0 == 3 && coarseView.clientFromImage.m.a == 2);

  // The getter and the alias hand out the pixels; the alias keeps the source's window and
  // transform, and refuses an unbound source without touching its outputs.
  cimg_imageConst out, unbound;
  cimg_imageConst_constructUnbound(&out);
  cimg_imageConst_constructUnbound(&unbound);
  ASSERT_EQ(cid2d_imageMemoryManager_getFineImage(&manager, nullptr, &out), 0);
  EXPECT_EQ(out.window.pixels[0], 222);
  int32_t copied = 7;
  EXPECT_EQ(cimg_imageConst_aliasToFastMem(&unbound, &out, &copied), csys_errImageUnbound);
  EXPECT_TRUE(copied == 7 && out.window.pixels[0] == 222);
  ASSERT_EQ(cimg_imageConst_aliasToFastMem(&coarseView, &out, &copied), 0);
  EXPECT_TRUE(copied == 0 && out.window.pixels == coarseView.window.pixels && out.window.x0 == 3 &&
              out.clientFromImage.m.a == 2);

  cimg_imageConst_destruct(&coarseView);
  cimg_imageConst_destruct(&fineView);
  cimg_image_destruct(&ownerA);
  cimg_image_destruct(&ownerB);
  EXPECT_EQ(cid2d_imageMemoryManager_destruct(&manager), 0);
  EXPECT_EQ(live.leaked(), 1);  // the alias still holds the coarse pixels
  cimg_imageConst_destruct(&out);
  EXPECT_EQ(live.leaked(), 0);
}
