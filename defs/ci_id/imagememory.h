/* Working images of a 2D search.
 *
 * cid2d_imageMemoryManager keeps a coarse and a fine copy of the image views a 2D search works
 * on. Both copies share the caller's pixels (no pixel is copied), start at image coordinates
 * (0, 0) and map image coordinates to client coordinates one to one, which is what the
 * Data Matrix seed search and its drivers assume: their seeds, marking cells and tracker start
 * points are image pixel coordinates. Two unbound working images ride along for the caller's
 * own use.
 *
 * cimg_imageConst_aliasToFastMem hands a search a view of an image and says whether the pixels
 * had to be copied to get it; here they never are. */
#ifndef IDUT_CI_ID_IMAGEMEMORY_H
#define IDUT_CI_ID_IMAGEMEMORY_H

#include "base/cimg.h"
#include "ci_id/typecheck.h"

IDUT_EXTERN_C_BEGIN

/* Caller-owned. Made by cid2d_imageMemoryManager_construct, freed by _destruct. */
struct cid2d_imageMemoryManager {
  cimg_imageConst coarseImage;        /* the coarse view, window offset (0, 0), identity transform */
  cimg_imageConst coarseWorkingImage; /* constructed unbound, for the caller */
  int32_t coarseWord;                 /* 0 after construction; not used by the library */
  cimg_imageConst fineImage;          /* the fine view, window offset (0, 0), identity transform */
  cimg_imageConst fineWorkingImage;   /* constructed unbound, for the caller */
  int32_t fineWord;                   /* 0 after construction; not used by the library */
  int32_t extraWord;                  /* 0 after construction; not used by the library */
};

/* Copies both views (sharing their pixels), gives both copies the identity client-from-image
 * transform and window offset (0, 0), and constructs the two working images unbound. The views
 * may be unbound. On failure nothing stays constructed and the failure is returned;
 * csys_errAssertion for a null argument. */
IDUT_API csys_status cid2d_imageMemoryManager_construct(cid2d_imageMemoryManager* manager,
                                                        const cimg_imageConst* coarseView,
                                                        const cimg_imageConst* fineView);

/* Destructs the coarse image, the coarse working image, the fine image and the fine working
 * image, in that order; stops at the first failure and returns it. */
IDUT_API csys_status cid2d_imageMemoryManager_destruct(cid2d_imageMemoryManager* manager);

/* Assigns the coarse image to *coarse (a constructed image); fine is not touched and may be
 * null. */
IDUT_API csys_status cid2d_imageMemoryManager_getCoarseImage(const cid2d_imageMemoryManager* manager,
                                                             cimg_imageConst* coarse, cimg_imageConst* fine);

/* Assigns the fine image to *fine (a constructed image); coarse is not touched and may be
 * null. */
IDUT_API csys_status cid2d_imageMemoryManager_getFineImage(const cid2d_imageMemoryManager* manager,
                                                           cimg_imageConst* coarse, cimg_imageConst* fine);

/* Makes *output (a constructed image) refer to the source's pixels, window and transform and
 * sets *copied to 0 (the pixels were not copied). csys_errImageUnbound when the source has no
 * pixels (output untouched); csys_errAssertion for a null argument. */
IDUT_API csys_status cimg_imageConst_aliasToFastMem(const cimg_imageConst* source, cimg_imageConst* output,
                                                    int32_t* copied);

IDUT_EXTERN_C_END

#endif
