// Image files in and out: exact round trips for the lossless formats, grey conversion of every
// PNG layout, JPEG within its tolerance, and clear failures (never crashes) on bad files.
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>
#include <webp/encode.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "imageio/imageio.hpp"

using imageio::GreyImage;
using Bytes = std::vector<uint8_t>;

namespace {

std::string tempPath(const std::string& name) { return testing::TempDir() + "imageio_" + name; }
Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }
uint8_t pattern(int i, int salt = 0) { return static_cast<uint8_t>((i * 7 + (i * i + salt) % 17 + salt) & 255); }

// The reference conversions, in floating point.
int lumaOf(int r, int g, int b) { return static_cast<int>(std::lround((299.0 * r + 587.0 * g + 114.0 * b) / 1000.0)); }
int overWhite(int grey, int alpha) { return static_cast<int>(std::lround((grey * alpha + 255.0 * (255 - alpha)) / 255.0)); }
int scaled(int v, int max) { return static_cast<int>(std::lround(v * 255.0 / max)); }

bool decode(const Bytes& b, GreyImage* image, std::string* error) {
  return imageio::decodeGrey(b.data(), b.size(), "mem", image, error);
}

// PNG through libpng's simplified writer.
Bytes pngSimple(uint32_t format, int w, int h, const void* pixels, const void* colormap = nullptr, int entries = 0) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION, png.width = w, png.height = h, png.format = format, png.colormap_entries = entries;
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&png, nullptr, &size, 0, pixels, 0, colormap);
  Bytes out(size);
  EXPECT_TRUE(png_image_write_to_memory(&png, out.data(), &size, 0, pixels, 0, colormap));
  out.resize(size);
  return out;
}

// PNG through libpng's full writer, for layouts the simplified one cannot make; rows holds the
// packed rows as they go into the file.
Bytes pngRaw(int w, int h, int bitDepth, int colorType, bool interlaced, const Bytes& rows, const png_color_16* trns = nullptr) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  auto append = [](png_structp p, png_bytep data, size_t n) {
    static_cast<Bytes*>(png_get_io_ptr(p))->insert(static_cast<Bytes*>(png_get_io_ptr(p))->end(), data, data + n);
  };
  if (setjmp(png_jmpbuf(png))) return png_destroy_write_struct(&png, &info), Bytes{};
  png_set_write_fn(png, &out, append, nullptr);
  png_set_IHDR(png, info, w, h, bitDepth, colorType, interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (trns) png_set_tRNS(png, info, nullptr, 0, trns);
  png_write_info(png, info);
  std::vector<png_bytep> ptrs(h);
  for (int y = 0; y < h; ++y) ptrs[y] = const_cast<png_bytep>(rows.data() + rows.size() / h * y);
  png_write_image(png, ptrs.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

Bytes jpegOf(int w, int h, int components, J_COLOR_SPACE space, const Bytes& samples, int quality, bool progressive) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* mem = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &mem, &size);
  c.image_width = w, c.image_height = h, c.input_components = components, c.in_color_space = space;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  if (progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(samples.data() + static_cast<size_t>(c.next_scanline) * w * components);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  Bytes out(mem, mem + size);
  jpeg_destroy_compress(&c);
  std::free(mem);
  return out;
}

// A file of every kind the reader takes, with the grey each pixel must become. maxError 0 means
// exact; otherwise the mean error stays below 1.5 and no pixel is off by more than maxError.
// A prefix of a file with exactPrefix that still decodes must decode to the full image.
struct Sample {
  std::string name;
  Bytes file;
  int width, height;
  std::vector<int> grey;
  int maxError = 0;
  bool exactPrefix = false;
};

std::vector<Sample> samples() {
  const int w = 23, h = 9, n = w * h;
  std::vector<Sample> s;
  auto add = [&](std::string name, Bytes file, int sw, int sh, auto greyOf, int maxError = 0, bool exact = true) {
    std::vector<int> grey(sw * sh);
    for (int i = 0; i < sw * sh; ++i) grey[i] = greyOf(i);
    s.push_back({std::move(name), std::move(file), sw, sh, std::move(grey), maxError, exact && maxError == 0});
  };
  // RGB and RGBA: luma, then alpha over white; grey with alpha; a palette with transparency.
  Bytes rgba(n * 4), rgb, ga(n * 2), index(n), grey(n);
  for (int i = 0; i < n * 4; ++i) rgba[i] = pattern(i / 4, 31 * (i % 4));
  for (int i = 0; i < n * 2; ++i) ga[i] = pattern(i, 3);
  for (int i = 0; i < n; ++i) rgb.insert(rgb.end(), &rgba[4 * i], &rgba[4 * i + 3]), index[i] = i % 4, grey[i] = pattern(i);
  add("rgb png", pngSimple(PNG_FORMAT_RGB, w, h, rgb.data()), w, h,
      [&](int i) { return lumaOf(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]); });
  add("rgba png", pngSimple(PNG_FORMAT_RGBA, w, h, rgba.data()), w, h,
      [&](int i) { return overWhite(lumaOf(rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2]), rgba[4 * i + 3]); });
  add("grey+alpha png", pngSimple(PNG_FORMAT_GA, w, h, ga.data()), w, h,
      [&](int i) { return overWhite(ga[2 * i], ga[2 * i + 1]); });
  const uint8_t cmap[16] = {255, 0, 0, 255, 0, 0, 0, 0, 10, 200, 30, 128, 90, 90, 90, 255};
  add("palette png", pngSimple(PNG_FORMAT_RGBA_COLORMAP, w, h, index.data(), cmap, 4), w, h, [&](int i) {
    const uint8_t* c = cmap + 4 * (i % 4);
    return overWhite(lumaOf(c[0], c[1], c[2]), c[3]);
  });
  // 16-bit RGB, scaled to 8 bits with rounding before the luma; 1-bit grey (1 is white);
  // interlaced grey with a transparent key colour.
  Bytes rgb16, bits(2 * h);
  for (int i = 0; i < n * 3; ++i) {
    const int v = (i * 2039 + 77) % 65536;
    rgb16.insert(rgb16.end(), {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v & 255)});
  }
  add("16-bit png", pngRaw(w, h, 16, PNG_COLOR_TYPE_RGB, false, rgb16), w, h, [&](int i) {
    auto v = [&](int k) { return scaled(rgb16[2 * (3 * i + k)] * 256 + rgb16[2 * (3 * i + k) + 1], 65535); };
    return lumaOf(v(0), v(1), v(2));
  });
  for (int y = 0; y < h; ++y) bits[2 * y] = 0xA5, bits[2 * y + 1] = static_cast<uint8_t>(y);
  add("1-bit png", pngRaw(16, h, 1, PNG_COLOR_TYPE_GRAY, false, bits), 16, h,
      [&](int i) { return ((bits[2 * (i / 16) + i % 16 / 8] >> (7 - i % 8)) & 1) * 255; });
  png_color_16 key{};
  key.gray = grey[5];
  add("interlaced png", pngRaw(w, h, 8, PNG_COLOR_TYPE_GRAY, true, grey, &key), w, h,
      [&](int i) { return grey[i] == key.gray ? 255 : grey[i]; });
  // JPEG: grey, progressive, RGB, and Adobe's inverted CMYK (no ink in C, M, Y; the grey as K).
  Bytes smooth(n), smoothRgb, cmyk;
  for (int i = 0; i < n; ++i) {
    smooth[i] = static_cast<uint8_t>(40 + 3 * (i % w) + 4 * (i / w));
    smoothRgb.insert(smoothRgb.end(), {static_cast<uint8_t>(6 * (i % w)), static_cast<uint8_t>(9 * (i / w)), 120});
    cmyk.insert(cmyk.end(), {255, 255, 255, smooth[i]});
  }
  auto smoothGrey = [&](int i) { return int(smooth[i]); };
  add("jpeg", jpegOf(w, h, 1, JCS_GRAYSCALE, smooth, 95, false), w, h, smoothGrey, 8);
  add("progressive jpeg", jpegOf(w, h, 1, JCS_GRAYSCALE, smooth, 90, true), w, h, smoothGrey, 8);
  add("rgb jpeg", jpegOf(w, h, 3, JCS_RGB, smoothRgb, 95, false), w, h,
      [&](int i) { return lumaOf(smoothRgb[3 * i], smoothRgb[3 * i + 1], smoothRgb[3 * i + 2]); }, 8);
  add("cmyk jpeg", jpegOf(w, h, 4, JCS_CMYK, cmyk, 95, false), w, h, smoothGrey, 8);
  // Lossless WebP with alpha.
  uint8_t* webp = nullptr;
  const size_t webpSize = WebPEncodeLosslessRGBA(rgba.data(), w, h, w * 4, &webp);
  add("webp", Bytes(webp, webp + webpSize), w, h,
      [&](int i) { return overWhite(lumaOf(rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2]), rgba[4 * i + 3]); });
  WebPFree(webp);
  // PNM: comments and odd spacing, deep samples scaled, colour to luma, bytes after the raster
  // left alone. A final plain number cut short is still a number, so P2 prefixes may differ.
  const int p2[] = {0, 5, 10, 1, 2, 3}, p5[] = {0, 1000, 500, 2};
  add("p2", bytesOf("P2\n# a comment\n3 2 # width height\n10\n0 5 10\n  1 2\t3\n"), 3, 2,
      [&](int i) { return scaled(p2[i], 10); }, 0, false);
  add("p3", bytesOf("P3 2 1 255 255 0 0  10 200 30"), 2, 1, [](int i) { return i ? lumaOf(10, 200, 30) : lumaOf(255, 0, 0); }, 0, false);
  Bytes p5File = bytesOf("P5\n2 2\n1000\n"), p6File = bytesOf("P6 1 2 255\n");
  for (int v : p5) p5File.insert(p5File.end(), {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
  p6File.insert(p6File.end(), {255, 255, 255, 0, 100, 0, 'x'});
  add("p5", p5File, 2, 2, [&](int i) { return scaled(p5[i], 1000); });
  add("p6", p6File, 1, 2, [](int i) { return i ? lumaOf(0, 100, 0) : 255; });
  return s;
}

}  // namespace

TEST(ImageIo, EveryLayoutBecomesTheRightGrey) {
  for (const Sample& s : samples()) {
    SCOPED_TRACE(s.name);
    GreyImage g;
    std::string error;
    ASSERT_TRUE(decode(s.file, &g, &error)) << error;
    ASSERT_TRUE(g.width == s.width && g.height == s.height && g.pixels.size() == s.grey.size()) << g.width << "x" << g.height;
    double sum = 0;
    int worst = 0;
    for (size_t i = 0; i < s.grey.size(); ++i) {
      sum += std::abs(g.pixels[i] - s.grey[i]);
      worst = std::max(worst, std::abs(g.pixels[i] - s.grey[i]));
    }
    EXPECT_LE(worst, s.maxError);
    EXPECT_LT(sum / s.grey.size(), 1.5);
  }
}

TEST(ImageIo, WritersRoundTripAndFilesAreRecognisedByContent) {
  std::string error;
  GreyImage src, back;
  // PNG and PGM are exact, JPEG within a few levels; the reader goes by content, not name.
  using Writer = bool (*)(const std::string&, const GreyImage&, std::string*);
  const Writer jpeg92 = [](const std::string& path, const GreyImage& g, std::string* e) {
    return imageio::writeJpeg(path, g, 92, e);
  };
  const std::tuple<const char*, Writer, int> writers[] = {{"roundtrip.png", imageio::writePng, 0},
                                                          {"really_a_png.jpg", imageio::writePng, 0},
                                                          {"roundtrip.pgm", imageio::writePgm, 0},
                                                          {"written.jpg", jpeg92, 6}};
  for (auto [w, h] : {std::pair{1, 1}, {3, 7}, {257, 5}, {80, 50}}) {
    src = GreyImage{w, h, Bytes(w * h)};
    for (int i = 0; i < w * h; ++i) src.pixels[i] = static_cast<uint8_t>(30 + (i % w) * 2 + (i / w));
    for (const auto& [name, write, tolerance] : writers) {
      if (tolerance > 0 && w != 80) continue;  // JPEG wants a smooth image
      ASSERT_TRUE(write(tempPath(name), src, &error)) << error;
      ASSERT_TRUE(imageio::readGrey(tempPath(name), &back, &error)) << error;
      ASSERT_TRUE(back.width == w && back.height == h) << name;
      for (int i = 0; i < w * h; ++i) ASSERT_LE(std::abs(back.pixels[i] - src.pixels[i]), tolerance) << name << " " << i;
    }
  }
  const Bytes png = pngSimple(PNG_FORMAT_GRAY, 1, 1, src.pixels.data());
  EXPECT_EQ(imageio::detectFormat(png.data(), png.size()), imageio::Format::png);
  // An RGB overlay reads back as its luma.
  const Bytes rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, 30, 60, 90};
  ASSERT_TRUE(imageio::writePngRgb(tempPath("overlay.png"), 2, 2, rgb, &error)) << error;
  ASSERT_TRUE(imageio::readGrey(tempPath("overlay.png"), &back, &error)) << error;
  for (int i = 0; i < 4; ++i) EXPECT_EQ(back.pixels[i], lumaOf(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]));

  // Failures name the path and say why.
  const std::string text = tempPath("notes.png"), empty = tempPath("empty.pgm"), dir = tempPath("a_directory");
  const std::string missing = tempPath("does_not_exist.png");
  std::ofstream(text) << "just some text\n";
  std::ofstream{empty};
  std::filesystem::create_directories(dir);
  for (const auto& [path, message] : {std::pair{text, text + ": not a supported image format"},
                                      {empty, empty + ": empty file"}, {missing, missing + ": cannot open ("},
                                      {dir, dir + ": cannot read ("}}) {
    EXPECT_FALSE(imageio::readGrey(path, &back, &error));
    EXPECT_EQ(error.rfind(message, 0), 0u) << error;
    EXPECT_TRUE(back.pixels.empty() && back.width == 0);
  }
  EXPECT_FALSE(imageio::writePng("/nonexistent-dir/x.png", src, &error));
  EXPECT_EQ(error.rfind("/nonexistent-dir/x.png: cannot create (", 0), 0u) << error;
  EXPECT_FALSE(imageio::writeJpeg(tempPath("no_dir/x.jpg"), src, 90, &error));
  EXPECT_NE(error.find("no_dir"), std::string::npos);
  EXPECT_FALSE(imageio::writeJpeg(tempPath("q0.jpg"), src, 0, &error));
  EXPECT_FALSE(imageio::writePgm(tempPath("e.pgm"), GreyImage{}, &error));
  EXPECT_FALSE(imageio::writePngRgb(tempPath("short.png"), 4, 4, Bytes(47), &error));
  EXPECT_NE(error.find("does not match"), std::string::npos);
}

TEST(ImageIo, MalformedFilesFailWithTheirReason) {
  // Headers announcing huge images are refused before any pixels are allocated.
  Bytes png = pngSimple(PNG_FORMAT_GRAY, 1, 1, "\x80");
  for (int k : {16, 20}) png[k] = 0, png[k + 1] = 1, png[k + 2] = 0x86, png[k + 3] = 0xa0;  // 100000 x 100000
  const uint32_t crc = static_cast<uint32_t>(crc32(0, &png[12], 17));
  for (int k = 0; k < 4; ++k) png[29 + k] = static_cast<uint8_t>(crc >> (24 - 8 * k));
  Bytes jpeg = jpegOf(8, 8, 1, JCS_GRAYSCALE, Bytes(64, 90), 90, false);
  const uint8_t frameHeader[] = {0xff, 0xc0};
  const auto sof = std::search(jpeg.begin(), jpeg.end(), std::begin(frameHeader), std::end(frameHeader));
  ASSERT_LT(sof + 8, jpeg.end());
  sof[5] = sof[7] = 0xfd, sof[6] = sof[8] = 0xe8;  // height and width 65000
  const Bytes grey = Bytes(1600, 77), fullJpeg = jpegOf(40, 40, 1, JCS_GRAYSCALE, grey, 90, false);
  const Bytes fullPng = pngSimple(PNG_FORMAT_GRAY, 40, 40, grey.data());
  const struct {
    Bytes data;
    const char* reason;
  } cases[] = {
      {bytesOf("P5\n"), "truncated PNM data (no width)"},
      {bytesOf("P5 0 5 255\n"), "empty image"},
      {bytesOf("P5 4 4 0\n"), "maxval 0"},
      {bytesOf("P5 4 4 70000\n"), "maxval too large"},
      {bytesOf("P5 4 4 255\nabc"), "truncated PNM data"},
      {bytesOf("P5 2 1 255"), "truncated PNM data (no raster)"},
      {bytesOf("P5 2 1 10\n\x05\x0b"), "sample exceeds maxval"},
      {bytesOf("P2 2 1 10\n3 11"), "sample exceeds maxval"},
      {bytesOf("P2 2 1 10\n3 x"), "sample is not a number"},
      {bytesOf("P2 2 2 10\n3 4 5"), "truncated PNM data"},
      {bytesOf("P5 4x4 255\n"), "junk after width"},
      {bytesOf("P5 99999999999999999999 4 255\n"), "width too large"},
      {bytesOf("P5 100000 100000 255\n"), "image too large (100000 x 100000)"},
      {bytesOf("P4 8 1\n\xff"), "unsupported PNM variant P4"},
      {bytesOf("hello, world\n"), "not a supported image format"},
      {bytesOf("P5"), "not a supported image format"},
      {Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'}, "truncated PNG data"},
      {Bytes{0xff, 0xd8, 0xff}, "JPEG"},
      {bytesOf(std::string("RIFF\x10\0\0\0WEBPVP8 ", 16)), "WebP data"},
      {png, "image too large (100000 x 100000)"},
      {jpeg, "image too large (65000 x 65000)"},
      {Bytes(fullJpeg.begin(), fullJpeg.end() - fullJpeg.size() / 4), "truncated JPEG data"},
      {Bytes(fullPng.begin(), fullPng.end() - fullPng.size() / 4), "truncated PNG data"},
  };
  for (const auto& c : cases) {
    GreyImage g{2, 2, Bytes(4, 9)};
    std::string error;
    EXPECT_FALSE(decode(c.data, &g, &error)) << c.reason;
    EXPECT_EQ(error.rfind("mem: ", 0), 0u) << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error << " / " << c.reason;
    EXPECT_TRUE(g.pixels.empty() && g.width == 0 && g.height == 0);
  }
}

// Every prefix of every sample, and random byte corruptions, must give either a clean failure
// or an image of the announced size.
TEST(ImageIo, TruncatedAndCorruptedFilesNeverCrash) {
  std::mt19937 rng(1234);
  for (const Sample& s : samples()) {
    SCOPED_TRACE(s.name);
    GreyImage full, g;
    std::string error;
    ASSERT_TRUE(decode(s.file, &full, &error)) << error;
    int failures = 0;
    for (size_t len = 0; len < s.file.size(); ++len) {
      if (!decode(Bytes(s.file.begin(), s.file.begin() + len), &g, &error)) {
        ++failures;
        EXPECT_TRUE(error.rfind("mem: ", 0) == 0 && g.pixels.empty()) << error;
      } else {
        EXPECT_TRUE(g.width == full.width && g.height == full.height && (!s.exactPrefix || g.pixels == full.pixels))
            << "prefix of " << len << " bytes";
      }
    }
    EXPECT_GT(failures, static_cast<int>(s.file.size() / 2)) << "most prefixes are incomplete";
    for (int trial = 0; trial < 300; ++trial) {
      Bytes bad = s.file;
      for (int k = 0, flips = 1 + rng() % 4; k < flips; ++k) bad[rng() % bad.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
      const bool ok = decode(bad, &g, &error);
      EXPECT_TRUE(ok ? g.pixels.size() == static_cast<size_t>(g.width) * g.height : !error.empty());
    }
  }
}
