// The sample photo and generated scenes that the filter, edge, threshold and binarisation tests
// compare against OpenCV and direct computations. Include only where IDUT_SAMPLE_PHOTO is defined.
#ifndef IDUT_TESTS_PHOTO_AND_SCENES_HPP
#define IDUT_TESTS_PHOTO_AND_SCENES_HPP

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "imageio/imageio.hpp"
#include "scenes/scene.hpp"

// The sample photo as grey, then one generated scene of each category, all of one seed.
inline std::vector<scene::GreyImage> photoAndScenes(std::initializer_list<scene::Category> categories, uint32_t seed) {
  imageio::GreyImage photo;
  std::string error;
  EXPECT_TRUE(imageio::readGrey(IDUT_SAMPLE_PHOTO, &photo, &error)) << error;
  std::vector<scene::GreyImage> images(1, scene::GreyImage(photo.width, photo.height));
  images[0].pixels = photo.pixels;
  for (scene::Category c : categories) images.push_back(scene::generate(c, seed).image);
  return images;
}

#endif
