#include "reader/frontpass.hpp"

#include "reader/datamatrix/dmdenoise.hpp"

namespace idutread {

FrontPass::FrontPass(const cimg_imageConst& image) : image_(image) {
  haveWindow_ = !CSYS_FAILED(cimg_windowConst_init(&window_, &image_));
}

bool FrontPass::covers(const cimg_windowConst& w) const {
  return haveWindow_ && w.pixels == window_.pixels && w.width == window_.width && w.height == window_.height &&
         w.stride == window_.stride;
}

double FrontPass::noise() {
  if (!noise_) noise_ = haveWindow_ ? dmroad::noiseSigma(window_, 0, &noiseRowToRow_) : 0.0;
  return *noise_;
}

double FrontPass::noiseRowToRow() {
  noise();
  return noiseRowToRow_;
}

const uint8_t* FrontPass::smoothedOnce() {
  if (!smoothed_ && haveWindow_) {
    smoothed_ = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(window_.width) * window_.height);
    dmroad::smoothBinomial(window_, smoothed_.get());
  }
  return smoothed_.get();
}

}  // namespace idutread
