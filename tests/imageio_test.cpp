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
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "imageio/imageio.hpp"

using imageio::GreyImage;
using Bytes = std::vector<uint8_t>;

namespace {

std::string tempPath(const std::string& name) { return testing::TempDir() + "imageio_" + name; }

void writeBytes(const std::string& path, const Bytes& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr) << path;
  if (!bytes.empty()) {
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  }
  std::fclose(f);
}

Bytes readBytes(const std::string& path) {
  Bytes out;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return out;
  int c;
  while ((c = std::fgetc(f)) != EOF) out.push_back(static_cast<uint8_t>(c));
  std::fclose(f);
  return out;
}

uint8_t pattern(int x, int y, int salt = 0) { return static_cast<uint8_t>((x * 7 + y * 13 + (x * y + salt) % 17 + salt) & 255); }

GreyImage patternImage(int w, int h) {
  GreyImage g{w, h, Bytes(static_cast<size_t>(w) * h)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) g.pixels[static_cast<size_t>(y) * w + x] = pattern(x, y);
  return g;
}

// The reference conversions, in floating point.
int lumaOf(int r, int g, int b) { return static_cast<int>(std::lround((299.0 * r + 587.0 * g + 114.0 * b) / 1000.0)); }
int overWhite(int grey, int alpha) { return static_cast<int>(std::lround((grey * alpha + 255.0 * (255 - alpha)) / 255.0)); }

bool decode(const Bytes& b, GreyImage* image, std::string* error) {
  return imageio::decodeGrey(b.data(), b.size(), "mem", image, error);
}

// PNG through libpng's simplified writer.
Bytes pngSimple(uint32_t format, int w, int h, const void* pixels, const void* colormap = nullptr, int entries = 0) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = w;
  png.height = h;
  png.format = format;
  png.colormap_entries = entries;
  png_alloc_size_t size = 0;
  if (!png_image_write_to_memory(&png, nullptr, &size, 0, pixels, 0, colormap)) return {};
  Bytes out(size);
  if (!png_image_write_to_memory(&png, out.data(), &size, 0, pixels, 0, colormap)) return {};
  out.resize(size);
  return out;
}

// PNG through libpng's full writer, for layouts the simplified one cannot make. rows holds
// the packed rows as they go into the file.
Bytes pngRaw(int w, int h, int bitDepth, int colorType, bool interlaced, const Bytes& rows, const png_color_16* trns = nullptr) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return {};
  }
  png_set_write_fn(
      png, &out, [](png_structp p, png_bytep data, size_t n) {
        auto* o = static_cast<Bytes*>(png_get_io_ptr(p));
        o->insert(o->end(), data, data + n);
      },
      nullptr);
  png_set_IHDR(png, info, w, h, bitDepth, colorType, interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (trns) png_set_tRNS(png, info, nullptr, 0, trns);
  png_write_info(png, info);
  const size_t rowBytes = rows.size() / h;
  std::vector<png_bytep> ptrs(h);
  for (int y = 0; y < h; ++y) ptrs[y] = const_cast<png_bytep>(rows.data() + rowBytes * y);
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
  c.image_width = w;
  c.image_height = h;
  c.input_components = components;
  c.in_color_space = space;
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

// A chunk with its CRC, for hand-made PNG files.
void appendChunk(Bytes& out, const char* type, const Bytes& body) {
  const uint32_t n = static_cast<uint32_t>(body.size());
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(n >> s));
  Bytes typed(type, type + 4);
  typed.insert(typed.end(), body.begin(), body.end());
  out.insert(out.end(), typed.begin(), typed.end());
  const uint32_t crc = static_cast<uint32_t>(crc32(0, typed.data(), static_cast<uInt>(typed.size())));
  for (int s = 24; s >= 0; s -= 8) out.push_back(static_cast<uint8_t>(crc >> s));
}

Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace

TEST(ImageIo, PngAndPgmRoundTripExactly) {
  for (auto [w, h] : {std::pair{1, 1}, {3, 7}, {257, 5}, {64, 48}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    const GreyImage src = patternImage(w, h);
    std::string error;
    for (const char* ext : {"png", "pgm"}) {
      const std::string path = tempPath(std::string("roundtrip.") + ext);
      const bool written = ext[1] == 'n' ? imageio::writePng(path, src, &error) : imageio::writePgm(path, src, &error);
      ASSERT_TRUE(written) << error;
      GreyImage back;
      ASSERT_TRUE(imageio::readGrey(path, &back, &error)) << error;
      EXPECT_EQ(back.width, w);
      EXPECT_EQ(back.height, h);
      EXPECT_TRUE(back.pixels == src.pixels) << ext;
    }
  }
}

TEST(ImageIo, EveryPngLayoutBecomesTheRightGrey) {
  const int w = 23, h = 9;
  std::string error;
  GreyImage g;
  // RGB and RGBA: luma, then alpha over white.
  Bytes rgba(w * h * 4);
  for (int i = 0; i < w * h; ++i)
    for (int k = 0; k < 4; ++k) rgba[4 * i + k] = pattern(i % w, i / w, 31 * k);
  Bytes rgb;
  for (int i = 0; i < w * h; ++i) rgb.insert(rgb.end(), &rgba[4 * i], &rgba[4 * i + 3]);
  ASSERT_TRUE(decode(pngSimple(PNG_FORMAT_RGB, w, h, rgb.data()), &g, &error)) << error;
  for (int i = 0; i < w * h; ++i) ASSERT_EQ(g.pixels[i], lumaOf(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2])) << i;
  ASSERT_TRUE(decode(pngSimple(PNG_FORMAT_RGBA, w, h, rgba.data()), &g, &error)) << error;
  for (int i = 0; i < w * h; ++i)
    ASSERT_EQ(g.pixels[i], overWhite(lumaOf(rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2]), rgba[4 * i + 3])) << i;
  // Grey with alpha.
  Bytes ga(w * h * 2);
  for (size_t i = 0; i < ga.size(); ++i) ga[i] = pattern(static_cast<int>(i), 3);
  ASSERT_TRUE(decode(pngSimple(PNG_FORMAT_GA, w, h, ga.data()), &g, &error)) << error;
  for (int i = 0; i < w * h; ++i) ASSERT_EQ(g.pixels[i], overWhite(ga[2 * i], ga[2 * i + 1])) << i;
  // Palette with transparency.
  const uint8_t cmap[4 * 4] = {255, 0, 0, 255, 0, 0, 0, 0, 10, 200, 30, 128, 90, 90, 90, 255};
  Bytes index(w * h);
  for (int i = 0; i < w * h; ++i) index[i] = static_cast<uint8_t>(i % 4);
  ASSERT_TRUE(decode(pngSimple(PNG_FORMAT_RGBA_COLORMAP, w, h, index.data(), cmap, 4), &g, &error)) << error;
  const int expectedPalette[4] = {lumaOf(255, 0, 0), 255, overWhite(lumaOf(10, 200, 30), 128), 90};
  for (int i = 0; i < w * h; ++i) ASSERT_EQ(g.pixels[i], expectedPalette[i % 4]) << i;
  // 16-bit RGB, scaled to 8 bits with rounding before the luma.
  Bytes rgb16;
  std::vector<int> v16;
  for (int i = 0; i < w * h * 3; ++i) {
    const int v = (i * 2039 + 77) % 65536;
    v16.push_back(v);
    rgb16.push_back(static_cast<uint8_t>(v >> 8));
    rgb16.push_back(static_cast<uint8_t>(v & 255));
  }
  ASSERT_TRUE(decode(pngRaw(w, h, 16, PNG_COLOR_TYPE_RGB, false, rgb16), &g, &error)) << error;
  auto to8 = [](int v) { return static_cast<int>(std::lround(v * 255.0 / 65535.0)); };
  for (int i = 0; i < w * h; ++i)
    ASSERT_EQ(g.pixels[i], lumaOf(to8(v16[3 * i]), to8(v16[3 * i + 1]), to8(v16[3 * i + 2]))) << i;
  // 1-bit grey, 16 pixels a row; bit 1 is white.
  Bytes bits(2 * h);
  for (int y = 0; y < h; ++y) bits[2 * y] = 0xA5, bits[2 * y + 1] = static_cast<uint8_t>(y);
  ASSERT_TRUE(decode(pngRaw(16, h, 1, PNG_COLOR_TYPE_GRAY, false, bits), &g, &error)) << error;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < 16; ++x) ASSERT_EQ(g.pixels[y * 16 + x], ((bits[2 * y + x / 8] >> (7 - x % 8)) & 1) * 255);
  // Interlaced grey with a transparent key colour.
  const GreyImage src = patternImage(37, 29);
  png_color_16 key{};
  key.gray = src.pixels[5];
  ASSERT_TRUE(decode(pngRaw(37, 29, 8, PNG_COLOR_TYPE_GRAY, true, src.pixels, &key), &g, &error)) << error;
  ASSERT_EQ(g.width, 37);
  for (size_t i = 0; i < src.pixels.size(); ++i) ASSERT_EQ(g.pixels[i], src.pixels[i] == key.gray ? 255 : src.pixels[i]) << i;
}

TEST(ImageIo, JpegReadsBackWithinItsTolerance) {
  const int w = 96, h = 64;
  Bytes grey(w * h), rgb(w * h * 3), cmyk(w * h * 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const int i = y * w + x;
      grey[i] = static_cast<uint8_t>(40 + x + y);
      rgb[3 * i] = static_cast<uint8_t>(2 * x), rgb[3 * i + 1] = static_cast<uint8_t>(3 * y), rgb[3 * i + 2] = 120;
      // Adobe's inverted CMYK: no ink in C, M, Y and the grey level as K.
      cmyk[4 * i] = cmyk[4 * i + 1] = cmyk[4 * i + 2] = 255;
      cmyk[4 * i + 3] = grey[i];
    }
  const struct {
    Bytes file;
    std::vector<int> expected;
  } cases[] = {
      {jpegOf(w, h, 1, JCS_GRAYSCALE, grey, 95, false), std::vector<int>(grey.begin(), grey.end())},
      {jpegOf(w, h, 1, JCS_GRAYSCALE, grey, 90, true), std::vector<int>(grey.begin(), grey.end())},
      {jpegOf(w, h, 3, JCS_RGB, rgb, 95, false), {}},
      {jpegOf(w, h, 4, JCS_CMYK, cmyk, 95, false), std::vector<int>(grey.begin(), grey.end())},
  };
  std::vector<int> rgbLuma;
  for (int i = 0; i < w * h; ++i) rgbLuma.push_back(lumaOf(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]));
  int k = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(k++);
    const std::vector<int>& expected = c.expected.empty() ? rgbLuma : c.expected;
    GreyImage g;
    std::string error;
    ASSERT_TRUE(decode(c.file, &g, &error)) << error;
    ASSERT_EQ(g.width, w);
    ASSERT_EQ(g.height, h);
    double sum = 0;
    int worst = 0;
    for (int i = 0; i < w * h; ++i) {
      const int d = std::abs(g.pixels[i] - expected[i]);
      sum += d;
      worst = std::max(worst, d);
    }
    EXPECT_LT(sum / (w * h), 1.5);
    EXPECT_LE(worst, 8);
  }
}

TEST(ImageIo, WrittenJpegReadsBackWithinItsTolerance) {
  GreyImage image{80, 50, Bytes(80 * 50)};
  for (int i = 0; i < 80 * 50; ++i) image.pixels[i] = static_cast<uint8_t>(30 + (i % 80) * 2 + (i / 80));
  const std::string path = tempPath("written.jpg");
  std::string error;
  ASSERT_TRUE(imageio::writeJpeg(path, image, 92, &error)) << error;
  GreyImage back;
  ASSERT_TRUE(imageio::readGrey(path, &back, &error)) << error;
  ASSERT_EQ(back.width, 80);
  ASSERT_EQ(back.height, 50);
  int worst = 0;
  for (int i = 0; i < 80 * 50; ++i) worst = std::max(worst, std::abs(back.pixels[i] - image.pixels[i]));
  EXPECT_LE(worst, 6);
  EXPECT_FALSE(imageio::writeJpeg(path, image, 0, &error));
  EXPECT_FALSE(imageio::writeJpeg(tempPath("no_dir/x.jpg"), image, 90, &error));
  EXPECT_NE(error.find("no_dir"), std::string::npos);
}

TEST(ImageIo, PnmVariantsAndScaling) {
  GreyImage g;
  std::string error;
  ASSERT_TRUE(decode(bytesOf("P2\n# a comment\n3 2 # width height\n10\n0 5 10\n  1 2\t3\n"), &g, &error)) << error;
  EXPECT_EQ(g.width, 3);
  EXPECT_EQ(g.height, 2);
  EXPECT_EQ(g.pixels, (Bytes{0, 128, 255, 26, 51, 77}));  // v * 255 / 10, rounded
  ASSERT_TRUE(decode(bytesOf("P3 2 1 255 255 0 0  10 200 30"), &g, &error)) << error;
  EXPECT_EQ(g.pixels, (Bytes{static_cast<uint8_t>(lumaOf(255, 0, 0)), static_cast<uint8_t>(lumaOf(10, 200, 30))}));
  Bytes p5 = bytesOf("P5\n2 2\n1000\n");
  for (int v : {0, 1000, 500, 2}) p5.push_back(static_cast<uint8_t>(v >> 8)), p5.push_back(static_cast<uint8_t>(v));
  ASSERT_TRUE(decode(p5, &g, &error)) << error;
  EXPECT_EQ(g.pixels, (Bytes{0, 255, 128, 1}));
  Bytes p6 = bytesOf("P6 1 2 255\n");
  for (int v : {255, 255, 255, 0, 100, 0}) p6.push_back(static_cast<uint8_t>(v));
  p6.push_back('x');  // bytes after the raster are left alone
  ASSERT_TRUE(decode(p6, &g, &error)) << error;
  EXPECT_EQ(g.pixels, (Bytes{255, static_cast<uint8_t>(lumaOf(0, 100, 0))}));
}

TEST(ImageIo, MalformedFilesFailWithTheirReason) {
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
  };
  for (const auto& c : cases) {
    GreyImage g = patternImage(2, 2);
    std::string error;
    EXPECT_FALSE(decode(c.data, &g, &error)) << c.reason;
    EXPECT_EQ(error.rfind("mem: ", 0), 0u) << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error << " / " << c.reason;
    EXPECT_TRUE(g.pixels.empty() && g.width == 0 && g.height == 0);
  }
  // Headers announcing huge images are refused before any pixels are allocated.
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  appendChunk(png, "IHDR", {0, 1, 0x86, 0xa0, 0, 1, 0x86, 0xa0, 8, 0, 0, 0, 0});  // 100000 x 100000 grey
  appendChunk(png, "IDAT", {});
  GreyImage g;
  std::string error;
  EXPECT_FALSE(decode(png, &g, &error));
  EXPECT_NE(error.find("image too large (100000 x 100000)"), std::string::npos) << error;
  Bytes jpeg = jpegOf(8, 8, 1, JCS_GRAYSCALE, Bytes(64, 90), 90, false);
  for (size_t i = 0; i + 8 < jpeg.size(); ++i)
    if (jpeg[i] == 0xff && jpeg[i + 1] == 0xc0) {  // frame header: height and width at +5
      jpeg[i + 5] = jpeg[i + 7] = 0xfd;
      jpeg[i + 6] = jpeg[i + 8] = 0xe8;
      break;
    }
  EXPECT_FALSE(decode(jpeg, &g, &error));
  EXPECT_NE(error.find("image too large (65000 x 65000)"), std::string::npos) << error;
  // Files cut inside their image data.
  const GreyImage src = patternImage(40, 40);
  const Bytes fullJpeg = jpegOf(40, 40, 1, JCS_GRAYSCALE, src.pixels, 90, false);
  EXPECT_FALSE(decode(Bytes(fullJpeg.begin(), fullJpeg.end() - fullJpeg.size() / 4), &g, &error));
  EXPECT_EQ(error, "mem: truncated JPEG data");
  const Bytes fullPng = pngSimple(PNG_FORMAT_GRAY, 40, 40, src.pixels.data());
  EXPECT_FALSE(decode(Bytes(fullPng.begin(), fullPng.end() - fullPng.size() / 4), &g, &error));
  EXPECT_EQ(error, "mem: truncated PNG data");
}

TEST(ImageIo, FilesAreRecognisedByContentAndFailuresNameThePath) {
  std::string error;
  GreyImage g;
  const GreyImage src = patternImage(10, 6);
  const std::string disguised = tempPath("really_a_png.jpg");
  ASSERT_TRUE(imageio::writePng(disguised, src, &error)) << error;
  ASSERT_TRUE(imageio::readGrey(disguised, &g, &error)) << error;
  EXPECT_TRUE(g.pixels == src.pixels);
  const Bytes png = readBytes(disguised);
  EXPECT_EQ(imageio::detectFormat(png.data(), png.size()), imageio::Format::png);

  const std::string text = tempPath("notes.png");
  writeBytes(text, bytesOf("just some text\n"));
  EXPECT_FALSE(imageio::readGrey(text, &g, &error));
  EXPECT_EQ(error, text + ": not a supported image format");
  const std::string empty = tempPath("empty.pgm");
  writeBytes(empty, {});
  EXPECT_FALSE(imageio::readGrey(empty, &g, &error));
  EXPECT_EQ(error, empty + ": empty file");
  const std::string missing = tempPath("does_not_exist.png");
  EXPECT_FALSE(imageio::readGrey(missing, &g, &error));
  EXPECT_EQ(error.rfind(missing + ": cannot open (", 0), 0u) << error;
  const std::string dir = tempPath("a_directory");
  std::filesystem::create_directories(dir);
  EXPECT_FALSE(imageio::readGrey(dir, &g, &error));
  EXPECT_EQ(error.rfind(dir + ": cannot read (", 0), 0u) << error;

  // Writers fail cleanly too; an RGB overlay reads back as its luma.
  EXPECT_FALSE(imageio::writePng("/nonexistent-dir/x.png", src, &error));
  EXPECT_EQ(error.rfind("/nonexistent-dir/x.png: cannot create (", 0), 0u) << error;
  EXPECT_FALSE(imageio::writePgm(tempPath("e.pgm"), GreyImage{}, &error));
  EXPECT_FALSE(imageio::writePngRgb(tempPath("short.png"), 4, 4, Bytes(47), &error));
  EXPECT_NE(error.find("does not match"), std::string::npos);
  const Bytes rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, 30, 60, 90};
  ASSERT_TRUE(imageio::writePngRgb(tempPath("overlay.png"), 2, 2, rgb, &error)) << error;
  ASSERT_TRUE(imageio::readGrey(tempPath("overlay.png"), &g, &error)) << error;
  EXPECT_EQ(g.pixels, (Bytes{static_cast<uint8_t>(lumaOf(255, 0, 0)), static_cast<uint8_t>(lumaOf(0, 255, 0)),
                             static_cast<uint8_t>(lumaOf(0, 0, 255)), static_cast<uint8_t>(lumaOf(30, 60, 90))}));
}

TEST(ImageIo, WebpStillImagesDecode) {
  const int w = 31, h = 17;
  Bytes rgba(w * h * 4);
  for (int i = 0; i < w * h; ++i)
    for (int k = 0; k < 4; ++k) rgba[4 * i + k] = k == 3 ? static_cast<uint8_t>(i % 3 == 0 ? 255 : 77) : pattern(i % w, i / w, 11 * k);
  uint8_t* out = nullptr;
  const size_t n = WebPEncodeLosslessRGBA(rgba.data(), w, h, w * 4, &out);
  ASSERT_GT(n, 0u);
  const Bytes file(out, out + n);
  WebPFree(out);
  GreyImage g;
  std::string error;
  ASSERT_TRUE(decode(file, &g, &error)) << error;
  ASSERT_EQ(g.width, w);
  for (int i = 0; i < w * h; ++i)
    ASSERT_EQ(g.pixels[i], overWhite(lumaOf(rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2]), rgba[4 * i + 3])) << i;
  EXPECT_FALSE(decode(Bytes(file.begin(), file.begin() + file.size() / 2), &g, &error));
  EXPECT_NE(error.find("truncated WebP data"), std::string::npos) << error;
}

// Every prefix of small valid files, and random byte corruptions, must give either a clean
// failure or an image; a truncated lossless file that still decodes must decode to the original.
TEST(ImageIo, TruncatedAndCorruptedFilesNeverCrash) {
  const GreyImage src = patternImage(29, 21);
  Bytes rgb;
  for (uint8_t v : src.pixels) rgb.insert(rgb.end(), {v, static_cast<uint8_t>(255 - v), static_cast<uint8_t>(v / 2)});
  Bytes pgm = bytesOf("P5 29 21 255\n");
  pgm.insert(pgm.end(), src.pixels.begin(), src.pixels.end());
  std::string p2 = "P2 29 21 255\n";
  for (uint8_t v : src.pixels) p2 += std::to_string(v) + " ";
  uint8_t* webp = nullptr;
  const size_t webpSize = WebPEncodeRGB(rgb.data(), 29, 21, 29 * 3, 80, &webp);
  ASSERT_GT(webpSize, 0u);
  const struct {
    const char* name;
    Bytes file;
    bool lossless;
  } files[] = {
      {"png", pngSimple(PNG_FORMAT_RGB, 29, 21, rgb.data()), true},
      {"interlaced png", pngRaw(29, 21, 8, PNG_COLOR_TYPE_GRAY, true, src.pixels), true},
      {"jpeg", jpegOf(29, 21, 1, JCS_GRAYSCALE, src.pixels, 85, false), false},
      {"progressive jpeg", jpegOf(29, 21, 3, JCS_RGB, rgb, 85, true), false},
      {"pgm", pgm, true},
      {"p2", bytesOf(p2), false},  // a final number cut short is still a number
      {"webp", Bytes(webp, webp + webpSize), false},
  };
  WebPFree(webp);
  std::mt19937 rng(1234);
  for (const auto& f : files) {
    SCOPED_TRACE(f.name);
    GreyImage full;
    std::string error;
    ASSERT_TRUE(decode(f.file, &full, &error)) << error;
    int failures = 0;
    for (size_t len = 0; len < f.file.size(); ++len) {
      const Bytes cut(f.file.begin(), f.file.begin() + len);
      GreyImage g;
      if (decode(cut, &g, &error)) {
        EXPECT_EQ(g.width, full.width);
        EXPECT_EQ(g.height, full.height);
        if (f.lossless) {
          EXPECT_TRUE(g.pixels == full.pixels) << "prefix of " << len << " bytes";
        }
      } else {
        ++failures;
        EXPECT_EQ(error.rfind("mem: ", 0), 0u);
        EXPECT_TRUE(g.pixels.empty());
      }
    }
    EXPECT_GT(failures, static_cast<int>(f.file.size() / 2)) << "most prefixes are incomplete";
    for (int trial = 0; trial < 300; ++trial) {
      Bytes bad = f.file;
      const int flips = 1 + static_cast<int>(rng() % 4);
      for (int k = 0; k < flips; ++k) bad[rng() % bad.size()] ^= static_cast<uint8_t>(1 + rng() % 255);
      GreyImage g;
      if (decode(bad, &g, &error)) {
        EXPECT_EQ(g.pixels.size(), static_cast<size_t>(g.width) * g.height);
      } else {
        EXPECT_FALSE(error.empty());
      }
    }
  }
}
