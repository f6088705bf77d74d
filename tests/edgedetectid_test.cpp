// The table-driven edge detector: shared tables built once under concurrent first use, edge
// codes and magnitude/angle images against a direct computation, refusals.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "../src/id/idut/edges/edgedetectid_tables.hpp"
#include "ci_id/edgedetectid.h"
#include "support/assert_recorder.hpp"
#include "support/owned_image.hpp"
#include "scenes/scene.hpp"

namespace {

// Direct gradient pair of pixel (x, y): magnitude and the unthresholded angle (0 along +x
// after the quarter turn back, before any kernel offset).
struct Direct {
  int magnitude;
  int raw;
  int thresholded() const { return raw == 255 ? 0 : raw; }  // the thresholded table never holds 255
};

Direct direct(const scene::GreyImage& img, int x, int y, int kernel) {
  int a, b;
  if (kernel == 2) {
    a = (img.at(x + 1, y) - img.at(x, y + 1)) >> 1;
    b = (img.at(x + 1, y + 1) - img.at(x, y)) >> 1;
  } else {
    auto p = [&](int dx, int dy) { return static_cast<int>(img.at(x + dx, y + dy)); };
    a = ((p(1, -1) - p(-1, -1)) + 2 * (p(1, 0) - p(-1, 0)) + (p(1, 1) - p(-1, 1))) >> 3;
    b = ((p(-1, 1) - p(-1, -1)) + 2 * (p(0, 1) - p(0, -1)) + (p(1, 1) - p(1, -1))) >> 3;
  }
  const int m = static_cast<int>(std::floor(std::fmin(255.0, 2 * std::sqrt(double(a * a + b * b))) + 0.5));
  double r = std::atan2(double(b), double(a)) - M_PI / 4;
  if (r <= -M_PI) r += 2 * M_PI;
  return {m, static_cast<int>(std::floor(r * 128 / M_PI + 0.5)) & 255};
}

int withKernel(int angle, int kernel) { return kernel == 2 ? angle : (angle + 32) & 255; }

int inhibitAngleTable(const char* name) { return std::string(name) == "cf_GetAngleTable"; }

}  // namespace

TEST(EdgeDetectId, TablesAreBuiltOnceUnderConcurrentFirstUse) {
  const uint32_t before = edgeid::tableBuildCount();
  std::vector<std::thread> threads;
  std::vector<csys_status> status(8, -1);
  std::vector<cstd_vector8> tables(8);
  for (int t = 0; t < 8; ++t)
    threads.emplace_back([&, t] {
      cstd_vector8_constructEmpty(&tables[static_cast<size_t>(t)]);
      status[static_cast<size_t>(t)] = t % 2 ? cfEdgeDetectID_install()
                                             : cf_EdgeDetectIDTableInit(&tables[static_cast<size_t>(t)], 20);
    });
  for (auto& th : threads) th.join();
  for (csys_status s : status) EXPECT_EQ(s, 0);
  // Both variants once, whoever came first; the even threads' tables are identical.
  EXPECT_EQ(edgeid::tableBuildCount() - before, before == 0 ? 2u : 0u);
  const uint8_t *first = nullptr, *other = nullptr;
  uint32_t size = 0;
  cstd_vector8_getBeginSize32Const(&tables[0], &first, &size);
  ASSERT_EQ(size, CF_EDGEDETECTID_CODE_TABLE_SIZE);
  for (int t = 2; t < 8; t += 2) {
    cstd_vector8_getBeginSize32Const(&tables[static_cast<size_t>(t)], &other, &size);
    EXPECT_EQ(std::memcmp(first, other, size), 0);
  }
  for (auto& v : tables) cstd_vector8_destruct(&v);
  // Shutdown frees both tables; the next use builds them again.
  const int64_t live = csys_memory_getLiveBlockCount();
  csys_shutdown_run();
  EXPECT_LE(csys_memory_getLiveBlockCount(), live - 2);
  const uint32_t built = edgeid::tableBuildCount();
  EXPECT_EQ(cfEdgeDetectID_install(), 0);
  EXPECT_EQ(edgeid::tableBuildCount(), built + 2);
}

TEST(EdgeDetectId, CodesMatchADirectComputation) {
  const scene::GreyImage img = scene::generate(scene::Category::clean, 6).image;
  cstd_vector8 table, generic, fresh;
  for (cstd_vector8* v : {&table, &generic, &fresh}) cstd_vector8_constructEmpty(v);
  for (uint8_t threshold : {0, 1, 30, 255}) {
    ASSERT_EQ(cf_EdgeDetectIDTableInit(&table, threshold), 0);
    cprt_isOptimizationInhibitedFP = &inhibitAngleTable;
    ASSERT_EQ(cf_EdgeDetectIDTableInit(&generic, threshold), 0);
    cprt_isOptimizationInhibitedFP = nullptr;
    const uint8_t *codes, *genericCodes;
    uint32_t size;
    cstd_vector8_getBeginSize32Const(&table, &codes, &size);
    cstd_vector8_getBeginSize32Const(&generic, &genericCodes, &size);
    ASSERT_EQ(std::memcmp(codes, genericCodes, size), 0);
    EXPECT_EQ(codes[0], threshold);
    for (int kernel : {2, 3}) {
      // The block leaves the one-pixel margin the kernels read.
      const int w = img.width - 2, h = img.height - 2, chunk = 50;
      std::vector<uint8_t> out(static_cast<size_t>(w) * h, 7);
      std::vector<uint32_t> counts((w + chunk - 1) / chunk, 5), expectCounts(counts);
      ASSERT_EQ(cf_EdgeDetectIDCount(img.pixels.data() + img.width + 1, img.width, out.data(), w, h, w, codes, size, 0,
                                     chunk, counts.data(), nullptr, nullptr, kernel),
                0);
      int wrong = 0;
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
          const Direct d = direct(img, x + 1, y + 1, kernel);
          const int expect = d.magnitude < threshold ? 255 : withKernel(d.thresholded(), kernel);
          wrong += out[static_cast<size_t>(y) * w + x] != expect;
          expectCounts[static_cast<size_t>(x / chunk)] += expect == 255;
        }
      EXPECT_EQ(wrong, 0) << "kernel " << kernel << " threshold " << int(threshold);
      EXPECT_EQ(counts, expectCounts);
    }
  }
  // Same threshold: kept as it is; another: rebuilt.
  uint8_t* bytes;
  uint32_t size;
  cstd_vector8_getBeginSize32(&table, &bytes, &size);
  const uint8_t flipped = bytes[100] ^= 1;
  ASSERT_EQ(cf_EdgeDetectIDTableInit(&table, 255), 0);
  EXPECT_EQ(bytes[100], flipped);
  ASSERT_EQ(cf_EdgeDetectIDTableInit(&table, 254), 0);
  ASSERT_EQ(cf_EdgeDetectIDTableInit(&fresh, 254), 0);
  EXPECT_EQ(std::memcmp(bytes, fresh.base.begin, size), 0);
  for (cstd_vector8* v : {&table, &generic, &fresh}) cstd_vector8_destruct(v);
}

TEST(EdgeDetectId, MagnitudeAndAngleImages) {
  const scene::GreyImage img = scene::generate(scene::Category::noisy, 2).image;
  scene::ImageView view(img);
  for (int kernel : {2, 3})
    for (int flag : {0, 1}) {
      OwnedImage mag, ang;
      ASSERT_EQ(cfEdgeDetectIDMagAng(view.get(), &mag, &ang, flag, 25, kernel), 0);
      const int inset = kernel == 2 ? 0 : 1;
      ASSERT_EQ(mag.window.width, img.width - 1 - inset);
      ASSERT_EQ(mag.window.x0, inset);
      EXPECT_DOUBLE_EQ(mag.clientFromImage.t.x, 0.5);
      int wrong = 0;
      for (int y = 0; y < mag.window.height; ++y)
        for (int x = 0; x < mag.window.width; ++x) {
          const Direct d = direct(img, x + inset, y + inset, kernel);
          const int expect = flag == 1 ? (d.magnitude < 25 ? 255 : withKernel(d.thresholded(), kernel))
                                       : ((kernel != 2 && d.raw == 255) ? 255 : withKernel(d.raw, kernel));
          wrong += mag.window.pixels[y * mag.window.stride + x] != d.magnitude;
          wrong += ang.window.pixels[y * ang.window.stride + x] != expect;
        }
      EXPECT_EQ(wrong, 0) << kernel << " " << flag;
    }
}

TEST(EdgeDetectId, RefusalsWriteNothing) {
  AssertRecorder asserts;
  cstd_vector8 table, wrongSize;
  cstd_vector8_constructEmpty(&table);
  cstd_vector8_construct(&wrongSize, 100);
  ASSERT_EQ(cf_EdgeDetectIDTableInit(&table, 10), 0);
  EXPECT_EQ(cf_EdgeDetectIDTableInit(&wrongSize, 10), csys_errAssertion);
  uint32_t size = 0;
  const uint8_t* codes;
  cstd_vector8_getBeginSize32Const(&wrongSize, &codes, &size);
  EXPECT_EQ(size, 100u);
  cstd_vector8_getBeginSize32Const(&table, &codes, &size);
  uint8_t src[16] = {0, 50, 100, 150};
  uint8_t out[9] = {7, 7, 7, 7, 7, 7, 7, 7, 7};
  EXPECT_EQ(cf_EdgeDetectID(src, 4, out, 2, 2, 3, nullptr, size, 0, nullptr, nullptr, 2), csys_errAssertion);
  EXPECT_EQ(cf_EdgeDetectID(src, 4, out, 2, 2, 3, codes, size - 1, 0, nullptr, nullptr, 2), csys_errAssertion);
  EXPECT_EQ(cf_EdgeDetectID(src, 4, out, 0, 2, 3, codes, size, 0, nullptr, nullptr, 2), csys_errAssertion);
  for (uint8_t v : out) EXPECT_EQ(v, 7);
  // A flat block is key 0: code 255 for a threshold above 0; a chunk wider than the row counts
  // every row into the first entry.
  uint8_t flat[20] = {};
  uint32_t counts[2] = {0, 0};
  ASSERT_EQ(cf_EdgeDetectIDCount(flat, 5, out, 3, 3, 3, codes, size, 0, 99, counts, nullptr, nullptr, 2), 0);
  EXPECT_EQ(std::tuple(counts[0], counts[1], int{out[4]}), std::tuple(9u, 0u, 255));
  OwnedImage mag, ang;
  scene::GreyImage img(8, 8, 3);
  scene::ImageView view(img);
  EXPECT_EQ(cfEdgeDetectIDMagAng(view.get(), &mag, &ang, 2, 10, 2), cidut_errBadArgument);
  scene::GreyImage thin(1, 8, 3);
  scene::ImageView thinView(thin);
  EXPECT_EQ(cfEdgeDetectIDMagAng(thinView.get(), &mag, &ang, 0, 10, 2), 0);
  EXPECT_FALSE(cimg_image_isBound(&mag) || cimg_image_isBound(&ang));
  cstd_vector8_destruct(&table);
  cstd_vector8_destruct(&wrongSize);
}
