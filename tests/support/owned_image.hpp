// Images that start unbound and are destructed when they leave scope, so a test's outputs need
// no construct and destruct lines of their own.
#ifndef IDUT_TESTS_OWNED_IMAGE_HPP
#define IDUT_TESTS_OWNED_IMAGE_HPP

#include "base/cimg.h"
#include "base/cimg_deep.h"

template <class Image, csys_status (*Construct)(Image*), csys_status (*Destruct)(Image*)>
struct Owned : Image {
  Owned() { Construct(this); }
  ~Owned() { Destruct(this); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
};

using OwnedImage = Owned<cimg_image, cimg_image_constructUnbound, cimg_image_destruct>;
using OwnedDouble = Owned<cimg_imageDouble, cimg_imageDouble_constructUnbound, cimg_imageDouble_destruct>;
using OwnedInt32 = Owned<cimg_imageInt32, cimg_imageInt32_constructUnbound, cimg_imageInt32_destruct>;

#endif
