// Scoped holders of base-layer images. A holder made with a non-null image and construct = true
// constructs the image unbound; the holder destructs it when it goes out of scope unless
// released. Holders copy the pointer on assignment and do not own exclusively: keep one owner.
// Failures throw cxException with the status, this header's path and the line.
#ifndef IDUT_PRIV_IMAGE_H
#define IDUT_PRIV_IMAGE_H

#include "base/cimg.h"
#include "base/cx.hpp"

namespace cidut_image_detail {
constexpr const char* kPath = "defs/ci_id/priv/ci_idut/image";
}

template <class Image, csys_status (*ConstructUnbound)(Image*), csys_status (*Destruct)(Image*)>
class cc_ImageHolder {
 public:
  explicit cc_ImageHolder(Image* image = nullptr, bool construct = true) : image_(image) {
    if (image_ != nullptr && construct) {
      const csys_status st = ConstructUnbound(image_);
      if (CSYS_FAILED(st)) throw cxException(st, cidut_image_detail::kPath, __LINE__);
    }
  }
  ~cc_ImageHolder() noexcept(false) {
    if (image_ != nullptr) {
      const csys_status st = Destruct(image_);
      // Never throw while another exception is unwinding the stack: that would terminate.
      if (CSYS_FAILED(st) && std::uncaught_exceptions() == 0)
        throw cxException(st, cidut_image_detail::kPath, __LINE__);
    }
  }
  cc_ImageHolder(const cc_ImageHolder&) = delete;
  cc_ImageHolder& operator=(const cc_ImageHolder& other) {
    image_ = other.image_;
    return *this;
  }

  Image* get() const { return image_; }
  Image* operator->() const { return image_; }
  void release() { image_ = nullptr; }

 private:
  Image* image_;
};

using cc_ImageAutoPtr = cc_ImageHolder<cimg_image, cimg_image_constructUnbound, cimg_image_destruct>;
using cc_ImageConstAutoPtr =
    cc_ImageHolder<cimg_imageConst, cimg_imageConst_constructUnbound, cimg_imageConst_destruct>;

#endif
