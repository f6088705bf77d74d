// Image files in and out: exact round trips for the lossless formats, grey conversion of every
// PNG layout, JPEG within its tolerance, and clear failures (never crashes) on bad files.
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <png.h>
#include <sys/stat.h>
#include <webp/encode.h>
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "imageio/imageio.hpp"
#include "support/new_hook.hpp"

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
Bytes pngSimple(uint32_t format, int w, int h, const void* pixels) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = w;
  png.height = h;
  png.format = format;
  png_alloc_size_t size = 0;
  png_image_write_to_memory(&png, nullptr, &size, 0, pixels, 0, nullptr);
  Bytes out(size);
  EXPECT_TRUE(png_image_write_to_memory(&png, out.data(), &size, 0, pixels, 0, nullptr));
  out.resize(size);
  return out;
}

Bytes jpegOf(int w, int h, int components, J_COLOR_SPACE space, const Bytes& samples, int quality) {
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

// A PNG written through libpng's full writer: 8-bit samples of 1 to 4 channels, interlaced or not.
Bytes pngWritten(int w, int h, int channels, bool interlaced, const Bytes& samples) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  Bytes out;
  png_set_write_fn(
      png, &out, [](png_structp p, png_bytep data, size_t n) { static_cast<Bytes*>(png_get_io_ptr(p))->insert(static_cast<Bytes*>(png_get_io_ptr(p))->end(), data, data + n); },
      nullptr);
  const int types[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB, PNG_COLOR_TYPE_RGB_ALPHA};
  png_set_IHDR(png, info, w, h, 8, types[channels - 1], interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  std::vector<png_bytep> rows(h);
  for (int y = 0; y < h; ++y) rows[y] = const_cast<png_bytep>(samples.data() + static_cast<size_t>(y) * w * channels);
  png_set_rows(png, info, rows.data());
  png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

// PNG files put together chunk by chunk, for data libpng's writers would not make.
void appendChunk(Bytes& file, const char* type, const Bytes& data) {
  const uint32_t n = static_cast<uint32_t>(data.size());
  file.insert(file.end(), {uint8_t(n >> 24), uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)});
  const size_t typeAt = file.size();
  file.insert(file.end(), type, type + 4);
  file.insert(file.end(), data.begin(), data.end());
  const uLong crc = crc32(0, file.data() + typeAt, static_cast<uInt>(4 + data.size()));
  file.insert(file.end(), {uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)});
}

Bytes pngHeader(uint32_t w, uint32_t h, uint8_t depth, uint8_t colourType) {
  Bytes file{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  appendChunk(file, "IHDR", {uint8_t(w >> 24), uint8_t(w >> 16), uint8_t(w >> 8), uint8_t(w), uint8_t(h >> 24),
                             uint8_t(h >> 16), uint8_t(h >> 8), uint8_t(h), depth, colourType, 0, 0, 0});
  return file;
}

// A zlib stream inflating to zeros: one literal, then runs of 258 copies of the byte before, in
// fixed-Huffman blocks (13 bits a run), about 1 KB of output per 6.5 bytes. The check value is
// left wrong on purpose: a reader that inflates it all fails at the end.
Bytes zeroBomb(size_t runs) {
  Bytes out{0x78, 0x01};
  uint64_t bits = 0;
  int count = 0;
  auto put = [&](uint32_t value, int n) {  // LSB first
    bits |= uint64_t{value} << count;
    for (count += n; count >= 8; count -= 8, bits >>= 8) out.push_back(static_cast<uint8_t>(bits));
  };
  auto code = [&](uint32_t c, int n) {  // Huffman codes go MSB first
    uint32_t reversed = 0;
    for (int i = 0; i < n; ++i) reversed |= ((c >> i) & 1) << (n - 1 - i);
    put(reversed, n);
  };
  put(1, 1);                 // last block
  put(1, 2);                 // fixed Huffman
  code(0x30, 8);             // literal 0
  for (size_t i = 0; i < runs; ++i) {
    code(0xC5, 8);           // length 258 (code 285)
    code(0, 5);              // distance 1
  }
  code(0, 7);                // end of block
  put(0, 7);                 // to a byte boundary
  out.insert(out.end(), {0, 0, 0, 0});
  return out;
}

// The image data of a PNG in IDAT chunks of at most 1 MB, then IEND.
Bytes withImageData(Bytes file, const Bytes& zlib) {
  for (size_t at = 0; at < zlib.size(); at += size_t{1} << 20)
    appendChunk(file, "IDAT", Bytes(zlib.begin() + at, zlib.begin() + std::min(zlib.size(), at + (size_t{1} << 20))));
  appendChunk(file, "IEND", {});
  return file;
}

// A lossless WebP header claiming width x height, its RIFF and image chunk sizes saying
// chunkBytes, followed by only `present` bytes of bit stream.
Bytes webpClaim(int width, int height, uint32_t chunkBytes, size_t present) {
  Bytes file = bytesOf("RIFF");
  const uint32_t riff = chunkBytes + 12;
  file.insert(file.end(), {uint8_t(riff), uint8_t(riff >> 8), uint8_t(riff >> 16), uint8_t(riff >> 24)});
  const Bytes tag = bytesOf("WEBPVP8L");
  file.insert(file.end(), tag.begin(), tag.end());
  file.insert(file.end(), {uint8_t(chunkBytes), uint8_t(chunkBytes >> 8), uint8_t(chunkBytes >> 16), uint8_t(chunkBytes >> 24)});
  const uint32_t bits = static_cast<uint32_t>(width - 1) | (static_cast<uint32_t>(height - 1) << 14);
  file.insert(file.end(), {0x2f, uint8_t(bits), uint8_t(bits >> 8), uint8_t(bits >> 16), uint8_t(bits >> 24)});
  for (size_t i = 0; i < present; ++i) file.push_back(static_cast<uint8_t>(i * 131 + 7));
  return file;
}

// A grey JPEG of 16 x 16 whose frame header is rewritten to claim width x height: a few hundred
// bytes that cannot hold the picture they announce.
Bytes jpegClaim(int width, int height) {
  Bytes file = jpegOf(16, 16, 1, JCS_GRAYSCALE, Bytes(256, 128), 90);
  for (size_t i = 0; i + 9 < file.size(); ++i) {
    if (file[i] == 0xFF && file[i + 1] == 0xC0) {  // start of frame: length, precision, height, width
      file[i + 5] = uint8_t(height >> 8), file[i + 6] = uint8_t(height);
      file[i + 7] = uint8_t(width >> 8), file[i + 8] = uint8_t(width);
      return file;
    }
  }
  ADD_FAILURE() << "no frame header in the JPEG";
  return file;
}

// A file of every kind the reader takes, with the grey each pixel must become. maxError 0 means
// exact (and a prefix that still decodes must decode to the full image); otherwise the mean
// error stays below 1.5 and no pixel is off by more than maxError.
struct Sample {
  std::string name;
  Bytes file;
  int width, height;
  std::vector<int> grey;
  int maxError = 0;
};

std::vector<Sample> samples() {
  const int w = 23, h = 9, n = w * h;
  std::vector<Sample> s;
  auto add = [&](std::string name, Bytes file, int sw, int sh, auto greyOf, int maxError = 0) {
    std::vector<int> grey(sw * sh);
    for (int i = 0; i < sw * sh; ++i) grey[i] = greyOf(i);
    s.push_back({std::move(name), std::move(file), sw, sh, std::move(grey), maxError});
  };
  // RGBA: luma, then alpha over white; 16-bit grey (written as it stands, under a linear gamma
  // the reader ignores) scaled to 8 bits with rounding.
  Bytes rgba(n * 4);
  std::vector<uint16_t> grey16(n);
  for (int i = 0; i < n * 4; ++i) rgba[i] = pattern(i / 4, 31 * (i % 4));
  for (int i = 0; i < n; ++i) grey16[i] = static_cast<uint16_t>(i * 2039 + 77);
  auto rgbaGrey = [&](int i) { return overWhite(lumaOf(rgba[4 * i], rgba[4 * i + 1], rgba[4 * i + 2]), rgba[4 * i + 3]); };
  add("rgba png", pngSimple(PNG_FORMAT_RGBA, w, h, rgba.data()), w, h, rgbaGrey);
  // Interlaced: rows arrive pass by pass, and the last pass holds no pixel of a 1 x 1 image.
  add("interlaced rgba png", pngWritten(w, h, 4, true, rgba), w, h, rgbaGrey);
  add("interlaced 1 x 1 png", pngWritten(1, 1, 1, true, {77}), 1, 1, [](int) { return 77; });
  add("interlaced 3 x 2 grey png", pngWritten(3, 2, 1, true, {1, 2, 3, 4, 5, 6}), 3, 2, [](int i) { return i + 1; });
  add("16-bit png", pngSimple(PNG_FORMAT_LINEAR_Y, w, h, grey16.data()), w, h, [&](int i) { return scaled(grey16[i], 65535); });
  // JPEG: grey, and Adobe's inverted CMYK (no ink in C, M, Y; the grey as K).
  Bytes smooth(n), cmyk;
  for (int i = 0; i < n; ++i) {
    smooth[i] = static_cast<uint8_t>(40 + 3 * (i % w) + 4 * (i / w));
    cmyk.insert(cmyk.end(), {255, 255, 255, smooth[i]});
  }
  auto smoothGrey = [&](int i) { return int(smooth[i]); };
  add("jpeg", jpegOf(w, h, 1, JCS_GRAYSCALE, smooth, 95), w, h, smoothGrey, 8);
  add("cmyk jpeg", jpegOf(w, h, 4, JCS_CMYK, cmyk, 95), w, h, smoothGrey, 8);
  // Lossless WebP with alpha.
  uint8_t* webp = nullptr;
  const size_t webpSize = WebPEncodeLosslessRGBA(rgba.data(), w, h, w * 4, &webp);
  add("webp", Bytes(webp, webp + webpSize), w, h, rgbaGrey);
  WebPFree(webp);
  // PNM: comments and odd spacing, deep samples scaled, colour to luma, bytes after the raster
  // left alone.
  const int p2[] = {0, 5, 10, 1, 2, 3}, p5[] = {0, 1000, 500, 2};
  add("p2", bytesOf("P2\n# a comment\n3 2 # width height\n10\n0 5 10\n  1 2\t3\n"), 3, 2,
      [&](int i) { return scaled(p2[i], 10); });
  Bytes p5File = bytesOf("P5\n2 2\n1000\n"), p6File = bytesOf("P6 1 2 255\n");
  for (int v : p5) p5File.insert(p5File.end(), {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)});
  p6File.insert(p6File.end(), {255, 255, 255, 0, 100, 0, 'x'});
  add("p5", p5File, 2, 2, [&](int i) { return scaled(p5[i], 1000); });
  add("p6", p6File, 1, 2, [](int i) { return i ? lumaOf(0, 100, 0) : 255; });
  return s;
}

}  // namespace

TEST(ImageIo, WritersRoundTripAndFailuresNameThePath) {
  std::string error;
  GreyImage src, back;
  // PNG and PGM are exact, JPEG within a few levels; the reader goes by content, not name.
  using Writer = bool (*)(const std::string&, const GreyImage&, std::string*);
  const Writer jpeg92 = [](const std::string& path, const GreyImage& g, std::string* e) {
    return imageio::writeJpeg(path, g, 92, e);
  };
  const std::tuple<const char*, Writer, int> writers[] = {
      {"really_a_png.jpg", imageio::writePng, 0}, {"roundtrip.pgm", imageio::writePgm, 0}, {"written.jpg", jpeg92, 6}};
  for (auto [w, h] : {std::pair{1, 1}, {257, 5}, {80, 50}}) {
    src = GreyImage{w, h, Bytes(w * h)};
    for (int i = 0; i < w * h; ++i) src.pixels[i] = static_cast<uint8_t>(30 + (i % w) * 2 + (i / w));
    for (const auto& [name, write, tolerance] : writers) {
      if (tolerance > 0 && w != 80) continue;  // JPEG wants a smooth image
      ASSERT_TRUE(write(tempPath(name), src, &error) && imageio::readGrey(tempPath(name), &back, &error)) << error;
      ASSERT_TRUE(back.width == w && back.height == h) << name;
      for (int i = 0; i < w * h; ++i) ASSERT_LE(std::abs(back.pixels[i] - src.pixels[i]), tolerance) << name << " " << i;
    }
  }
  // An RGB overlay reads back as its luma.
  const Bytes rgb = {255, 0, 0, 0, 255, 0, 0, 0, 255, 30, 60, 90};
  ASSERT_TRUE(imageio::writePngRgb(tempPath("overlay.png"), 2, 2, rgb, &error)) << error;
  ASSERT_TRUE(imageio::readGrey(tempPath("overlay.png"), &back, &error)) << error;
  for (int i = 0; i < 4; ++i) EXPECT_EQ(back.pixels[i], lumaOf(rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]));

  // Failures name the path and say why, and leave the image empty.
  const std::string missing = tempPath("does_not_exist.png");
  EXPECT_FALSE(imageio::readGrey(missing, &back, &error));
  EXPECT_TRUE(error.rfind(missing + ": cannot open (", 0) == 0 && back.pixels.empty() && back.width == 0) << error;
  EXPECT_FALSE(imageio::writePng("/nonexistent-dir/x.png", src, &error));
  EXPECT_EQ(error.rfind("/nonexistent-dir/x.png: cannot create (", 0), 0u) << error;
  // Every writer refuses a buffer that does not match the size, and creates no file.
  const GreyImage short1{4, 4, Bytes(15)};
  for (const auto& [name, write, tolerance] : writers) {
    const std::string path = tempPath(std::string("refused_") + name);
    EXPECT_FALSE(write(path, short1, &error)) << name;
    EXPECT_EQ(error, path + ": pixel buffer does not match the size");
    EXPECT_FALSE(std::ifstream(path).good()) << name;
  }
  EXPECT_FALSE(imageio::writeJpeg(tempPath("q0.jpg"), src, 0, &error));
  EXPECT_EQ(error, tempPath("q0.jpg") + ": JPEG quality outside 1 ... 100");
}

TEST(ImageIo, MalformedFilesFailWithTheirReason) {
  // Every failure names the source and says why, and leaves the image empty.
  const std::pair<Bytes, const char*> cases[] = {
      {bytesOf("P5\n"), "truncated PNM data (no width)"},
      {bytesOf("P5 4 4 0\n"), "maxval 0"},
      {bytesOf("P5 2 1 10\n\x05\x0b"), "sample exceeds maxval"},
      {bytesOf("P2 2 1 10\n3 x"), "sample is not a number"},
      {bytesOf("P5 100000 100000 255\n"), "image too large (100000 x 100000)"},  // before allocating
      {bytesOf("P2\n9090 9090 90\n1 2"), "truncated PNM data"},  // a raster too short to hold the size
      {bytesOf("P6 3000 3000 255\n\x01\x02"), "truncated PNM data"},
      {bytesOf("P4 8 1\n\xff"), "unsupported PNM variant P4"},
      {bytesOf("hello, world\n"), "not a supported image format"},
      {Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'}, "truncated PNG data"},
      {bytesOf(std::string("RIFF\x10\0\0\0WEBPVP8 ", 16)), "WebP data"},
  };
  for (const auto& [data, reason] : cases) {
    GreyImage g{2, 2, Bytes(4, 9)};
    std::string error;
    EXPECT_FALSE(decode(data, &g, &error)) << reason;
    EXPECT_TRUE(error.rfind(std::string("mem: "), 0) == 0 && error.find(reason) != std::string::npos && g.pixels.empty() &&
                g.width == 0 && g.height == 0)
        << error << " / " << reason;
  }
}

// Every sample decodes to its grey; every prefix of it, and random byte corruptions, give either
// a clean failure or an image of the announced size.
TEST(ImageIo, EverySampleBecomesItsGreyAndDamageNeverCrashes) {
  std::mt19937 rng(1234);
  for (const Sample& s : samples()) {
    SCOPED_TRACE(s.name);
    GreyImage full, g;
    std::string error;
    ASSERT_TRUE(decode(s.file, &full, &error)) << error;
    ASSERT_TRUE(full.width == s.width && full.height == s.height) << full.width << "x" << full.height;
    double sum = 0;
    for (size_t i = 0; i < s.grey.size(); ++i) {
      sum += std::abs(full.pixels[i] - s.grey[i]);
      EXPECT_LE(std::abs(full.pixels[i] - s.grey[i]), s.maxError) << i;
    }
    EXPECT_LT(sum / s.grey.size(), 1.5);
    int failures = 0;
    for (size_t len = 0; len < s.file.size(); ++len) {
      if (!decode(Bytes(s.file.begin(), s.file.begin() + len), &g, &error)) {
        ++failures;
        EXPECT_TRUE(error.rfind("mem: ", 0) == 0 && g.pixels.empty()) << error;
      } else {
        EXPECT_TRUE(g.width == full.width && g.height == full.height && (s.maxError > 0 || g.pixels == full.pixels))
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

namespace {

double cpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

// A picture made to compress badly: every reader has to hold all of it.
Bytes noisySamples(int w, int h, int channels) {
  Bytes b(static_cast<size_t>(w) * h * channels);
  std::mt19937 rng(99);
  for (uint8_t& v : b) v = static_cast<uint8_t>(rng());
  return b;
}

}  // namespace

// A file whose header claims far more than its data can hold is refused before the picture is
// allocated (no allocation of 16 MB or more succeeds here); a PNG ends at its last row, however
// much compressed data follows.
TEST(ImageIo, ClaimsBeyondTheDataAreRefusedAndReadingEndsWithTheImage) {
  const struct {
    const char* name;
    Bytes file;
    const char* reason;  // null: decodes, black
  } cases[] = {
      {"WebP claiming 16383 x 16383 in 5 KB", webpClaim(16383, 16383, 800000, 5000), "truncated WebP data"},
      {"PNG claiming 16000 x 16000 RGBA in 5 KB", withImageData(pngHeader(16000, 16000, 8, 6), zeroBomb(800)),
       "truncated PNG data"},
      {"PNG side over the cap", pngHeader(200000, 1, 8, 0), "image too large (200000 x 1)"},
      {"PNM claiming 15000 x 15000", bytesOf("P5 15000 15000 255\n\x01\x02"), "truncated PNM data"},
      {"JPEG of 16 x 16 whose header claims 12000 x 12000", jpegClaim(12000, 12000), "truncated JPEG data"},
      // 4 x 4 grey needs 20 bytes; about 2 GB of zeros follow in 13 MB.
      {"PNG of 4 x 4 with a deflate bomb after it", withImageData(pngHeader(4, 4, 8, 0), zeroBomb(8000000)), nullptr},
  };
  for (const auto& c : cases) {
    GreyImage g;
    std::string error;
    bool ok = false;
    const double start = cpuSeconds();
    {
      newhook::FailFrom limit(16 << 20);
      EXPECT_NO_THROW(ok = decode(c.file, &g, &error)) << c.name;
    }
    EXPECT_LT(cpuSeconds() - start, 2.0) << c.name;
    if (c.reason == nullptr) {
      EXPECT_TRUE(ok && g.width == 4 && g.height == 4 && g.pixels == Bytes(16, 0)) << c.name << ": " << error;
    } else {
      EXPECT_FALSE(ok) << c.name;
      EXPECT_EQ(error, std::string("mem: ") + c.reason) << c.name;
    }
  }
}

// Out of memory is a reason like any other: every reader says so, leaves the image empty and
// lets no exception out.
TEST(ImageIo, OutOfMemoryIsReportedByEveryReader) {
  const int w = 1200, h = 1000;
  const Bytes grey = noisySamples(w, h, 1), rgba = noisySamples(w, h, 4);
  Bytes cmyk(static_cast<size_t>(w) * h * 4, 255);
  for (size_t i = 0; i < grey.size(); ++i) cmyk[4 * i + 3] = grey[i];
  Bytes p5 = bytesOf("P5 1200 1000 255\n");
  p5.insert(p5.end(), grey.begin(), grey.end());
  uint8_t* webp = nullptr;
  const size_t webpSize = WebPEncodeLosslessRGBA(rgba.data(), w, h, w * 4, &webp);
  const std::pair<const char*, Bytes> files[] = {
      {"png", pngWritten(w, h, 1, false, grey)},
      {"interlaced png", pngWritten(w, h, 4, true, rgba)},
      {"jpeg", jpegOf(w, h, 1, JCS_GRAYSCALE, grey, 90)},
      {"cmyk jpeg", jpegOf(w, h, 4, JCS_CMYK, cmyk, 90)},
      {"pgm", p5},
      {"webp", Bytes(webp, webp + webpSize)},
  };
  WebPFree(webp);
  for (const auto& [name, file] : files) {
    GreyImage g;
    std::string error;
    ASSERT_TRUE(decode(file, &g, &error)) << name << ": " << error;  // fine with memory to spare
    g = GreyImage{};
    error.reserve(200);  // the message fits the string's own buffer, so no block is its
    bool ok = true;
    const int64_t live = newhook::liveBlocks();
    {
      newhook::FailFrom limit(1 << 20);
      EXPECT_NO_THROW(ok = decode(file, &g, &error)) << name;
      EXPECT_TRUE(newhook::fired()) << name;
    }
    EXPECT_FALSE(ok) << name;
    EXPECT_EQ(error, "mem: out of memory") << name;
    EXPECT_TRUE(g.pixels.empty() && g.width == 0 && g.height == 0) << name;
    EXPECT_EQ(newhook::liveBlocks(), live) << name << ": leaked";
  }
}

// Only regular files are read: nothing waits on a FIFO or reads a device to the cap, a
// directory says so, and a file over the cap is refused by its size, unread.
TEST(ImageIo, OnlyRegularFilesAreRead) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path(tempPath("files"));
  fs::remove_all(dir);
  fs::create_directories(dir);
  const fs::path fifo = dir / "fifo.png", big = dir / "sparse.pgm", link = dir / "link.png", real = dir / "real.png";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::ofstream(big).close();
  fs::resize_file(big, imageio::kMaxFileBytes + 1);  // sparse: takes no room
  const Bytes tiny = pngSimple(PNG_FORMAT_GRAY, 2, 1, Bytes{10, 20}.data());
  std::ofstream(real, std::ios::binary).write(reinterpret_cast<const char*>(tiny.data()), tiny.size());
  fs::create_symlink(real, link);
  const std::pair<fs::path, std::string> cases[] = {
      {fifo, "not a regular file"},
      {"/dev/zero", "not a regular file"},
      {dir, "is a directory"},
      {big, "file too large (over 1 GiB)"},
      {link, ""},  // a link to an image is read as the image
  };
  for (const auto& [path, reason] : cases) {
    GreyImage g;
    std::string error;
    newhook::FailFrom limit(64 << 20);
    auto reading = std::async(std::launch::async, [&] { return imageio::readGrey(path.string(), &g, &error); });
    if (reading.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
      ADD_FAILURE() << path << ": the reader is still waiting";
      std::ofstream(fifo).close();  // a writer come and gone lets a reader held on the FIFO go on
      reading.wait();
      continue;
    }
    bool ok = false;
    EXPECT_NO_THROW(ok = reading.get()) << path;
    if (reason.empty()) {
      EXPECT_TRUE(ok && g.pixels == Bytes({10, 20})) << error;
    } else {
      EXPECT_FALSE(ok) << path;
      EXPECT_EQ(error, path.string() + ": " + reason);
    }
  }
}
