// What more than one road asks of an image, worked out once per image the first time a road asks
// for it, and handed to each road: the estimate of the pixel noise and the lightly smoothed copy
// of a noisy image. The Data Matrix and PDF417 roads both search a noisy image through the same
// 3 x 3 binomial smoothing and both set their levels from the same estimate. (The outlines of the
// symbols the earlier roads read are handed on through the symbols themselves.)
#ifndef IDUT_READER_FRONTPASS_HPP
#define IDUT_READER_FRONTPASS_HPP

#include <cstdint>
#include <memory>
#include <optional>

#include "base/cimg.h"

namespace idutread {

class FrontPass {
 public:
  // image's pixels must outlive the front pass. One thread at a time.
  explicit FrontPass(const cimg_imageConst& image);
  FrontPass(const FrontPass&) = delete;
  FrontPass& operator=(const FrontPass&) = delete;

  const cimg_imageConst& image() const { return image_; }
  // Whether w shows this front pass's image whole (the same pixels, size and stride): only then
  // does what it worked out stand for w.
  bool covers(const cimg_windowConst& w) const;
  // dmroad::noiseSigma of the image, with its row-to-row check always made. The check only ever
  // lowers the estimate, so a road that would have skipped it below a level decides alike.
  double noise();
  // noiseSigma's row-to-row estimate over the first for the image (1 where it was not made).
  double noiseRowToRow();
  // The image smoothed once by the 3 x 3 binomial (dmroad::smoothBinomial): width x height,
  // stride width. Throws std::bad_alloc when there is no memory for it.
  const uint8_t* smoothedOnce();

 private:
  cimg_imageConst image_;
  cimg_windowConst window_{};
  bool haveWindow_ = false;
  std::optional<double> noise_;
  double noiseRowToRow_ = 1;
  std::unique_ptr<uint8_t[]> smoothed_;
};

}  // namespace idutread

#endif
