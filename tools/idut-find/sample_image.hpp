// The built-in sample scene: a PNG with three real Data Matrix symbols (square, rectangular,
// and light-on-dark under mild perspective) among text-like clutter, compiled into the program.
#ifndef IDUT_FIND_SAMPLE_IMAGE_HPP
#define IDUT_FIND_SAMPLE_IMAGE_HPP

#include <cstddef>
#include <cstdint>

const uint8_t* sampleImageBytes();
size_t sampleImageSize();

#endif
