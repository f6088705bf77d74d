// Working images of a 2D search: normalised coarse and fine views, and the pixel alias.
#include "ci_id/imagememory.h"

#include "base/csys_cleanup.hpp"

namespace {

// Origin (0, 0) and identity client transform, so that image pixel coordinates are client
// coordinates and seed positions address the image directly.
csys_status normalise(cimg_imageConst* image) {
  cmath_xformLinear identity;
  csys_status st = cmath_xformLinear_initIdentity(&identity);
  if (CSYS_FAILED(st)) return st;
  st = cimg_imageConst_setLinearClientFromImageXform(image, &identity);
  if (CSYS_FAILED(st)) return st;
  return cimg_imageConst_setWindowOffset(image, 0, 0);
}

}  // namespace

extern "C" {

csys_status cid2d_imageMemoryManager_construct(cid2d_imageMemoryManager* manager, const cimg_imageConst* coarseView,
                                               const cimg_imageConst* fineView) {
  CSYS_REQUIRE(manager != nullptr && coarseView != nullptr && fineView != nullptr);
  csys::CleanupList cleanup;
  csys_status st = cimg_imageConst_constructCopy(&manager->coarseImage, coarseView);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.destructOnFailure<cimg_imageConst_destruct>(&manager->coarseImage);
  st = normalise(&manager->coarseImage);
  if (CSYS_FAILED(st)) return cleanup.exit(st);

  st = cimg_imageConst_constructCopy(&manager->fineImage, fineView);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.destructOnFailure<cimg_imageConst_destruct>(&manager->fineImage);
  st = normalise(&manager->fineImage);
  if (CSYS_FAILED(st)) return cleanup.exit(st);

  st = cimg_imageConst_constructUnbound(&manager->coarseWorkingImage);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.destructOnFailure<cimg_imageConst_destruct>(&manager->coarseWorkingImage);
  st = cimg_imageConst_constructUnbound(&manager->fineWorkingImage);
  if (CSYS_FAILED(st)) return cleanup.exit(st);
  cleanup.destructOnFailure<cimg_imageConst_destruct>(&manager->fineWorkingImage);

  manager->coarseWord = 0;
  manager->fineWord = 0;
  manager->extraWord = 0;
  return cleanup.exit(0);
}

csys_status cid2d_imageMemoryManager_destruct(cid2d_imageMemoryManager* manager) {
  CSYS_REQUIRE(manager != nullptr);
  csys_status st = cimg_imageConst_destruct(&manager->coarseImage);
  if (CSYS_FAILED(st)) return st;
  st = cimg_imageConst_destruct(&manager->coarseWorkingImage);
  if (CSYS_FAILED(st)) return st;
  st = cimg_imageConst_destruct(&manager->fineImage);
  if (CSYS_FAILED(st)) return st;
  return cimg_imageConst_destruct(&manager->fineWorkingImage);
}

csys_status cid2d_imageMemoryManager_getCoarseImage(const cid2d_imageMemoryManager* manager, cimg_imageConst* coarse,
                                                    cimg_imageConst* /*fine*/) {
  CSYS_REQUIRE(manager != nullptr && coarse != nullptr);
  return cimg_imageConst_assign(coarse, &manager->coarseImage);
}

csys_status cid2d_imageMemoryManager_getFineImage(const cid2d_imageMemoryManager* manager, cimg_imageConst* /*coarse*/,
                                                  cimg_imageConst* fine) {
  CSYS_REQUIRE(manager != nullptr && fine != nullptr);
  return cimg_imageConst_assign(fine, &manager->fineImage);
}

csys_status cimg_imageConst_aliasToFastMem(const cimg_imageConst* source, cimg_imageConst* output, int32_t* copied) {
  CSYS_REQUIRE(source != nullptr && output != nullptr && copied != nullptr);
  cimg_windowConst window;
  csys_status st = cimg_windowConst_init(&window, source);
  if (CSYS_FAILED(st)) return st;
  st = cimg_imageConst_assign(output, source);
  if (CSYS_FAILED(st)) return st;
  *copied = 0;
  return 0;
}

}  // extern "C"
