// Image file reading (the writers are in imageio_write.cpp). The PNG and JPEG decoders report errors by longjmp: each
// decoder runs in a function whose own locals are plain values set before setjmp, and every
// piece of state that must survive the jump (messages, the pixel buffer) lives in a record owned
// by the caller, so nothing with a destructor is ever jumped over.
#include "imageio/imageio.hpp"

#include <jpeglib.h>
#include <png.h>
#include <webp/decode.h>

#include <jerror.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "imageio/file.hpp"

namespace imageio {

namespace {

constexpr size_t kMaxFileBytes = size_t{1} << 30;

bool fail(const std::string& name, const std::string& reason, GreyImage* image, std::string* error) {
  *image = GreyImage{};
  if (error) *error = name + ": " + reason;
  return false;
}

// Refuses sizes that are empty or too large before anything is allocated; the reason goes to a
// plain buffer so that the decoders' longjmp frames hold nothing with a destructor.
bool checkSize(uint64_t width, uint64_t height, char* reason, size_t reasonSize) {
  const unsigned long long w = width, h = height;
  if (width == 0 || height == 0) {
    std::snprintf(reason, reasonSize, "empty image (%llu x %llu)", w, h);
    return false;
  }
  if (width > static_cast<uint64_t>(kMaxSide) || height > static_cast<uint64_t>(kMaxSide) ||
      width * height > static_cast<uint64_t>(kMaxPixels)) {
    std::snprintf(reason, reasonSize, "image too large (%llu x %llu)", w, h);
    return false;
  }
  return true;
}

inline uint8_t luma(unsigned r, unsigned g, unsigned b) { return static_cast<uint8_t>((299 * r + 587 * g + 114 * b + 500) / 1000); }

inline uint8_t overWhite(unsigned grey, unsigned alpha) {
  return static_cast<uint8_t>((grey * alpha + 255 * (255 - alpha) + 127) / 255);
}

// Interleaved 8-bit samples (grey, grey+alpha, RGB or RGBA) to grey.
template <int kChannels>
void toGreyAs(const uint8_t* src, size_t count, uint8_t* dst) {
  for (size_t i = 0; i < count; ++i, src += kChannels) {
    if constexpr (kChannels == 1) dst[i] = src[0];
    else if constexpr (kChannels == 2) dst[i] = overWhite(src[0], src[1]);
    else if constexpr (kChannels == 3) dst[i] = luma(src[0], src[1], src[2]);
    else dst[i] = overWhite(luma(src[0], src[1], src[2]), src[3]);
  }
}

// One loop per channel count, chosen once rather than at every pixel, so each can vectorise.
void toGrey(const uint8_t* src, int channels, size_t count, uint8_t* dst) {
  switch (channels) {
    case 1: toGreyAs<1>(src, count, dst); break;
    case 2: toGreyAs<2>(src, count, dst); break;
    case 3: toGreyAs<3>(src, count, dst); break;
    default: toGreyAs<4>(src, count, dst); break;
  }
}

// ---------------------------------------------------------------- PNG

struct PngJob {
  const uint8_t* data;
  size_t size;
  size_t pos;
  char message[200];
  uint8_t* pixels;  // malloc'd, width * height * channels
  uint32_t width;
  uint32_t height;
  int channels;
};

void pngError(png_structp png, png_const_charp msg) {
  auto* job = static_cast<PngJob*>(png_get_error_ptr(png));
  if (job->message[0] == '\0') std::snprintf(job->message, sizeof job->message, "bad PNG data (%s)", msg);
  png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

void pngRead(png_structp png, png_bytep out, size_t n) {
  auto* job = static_cast<PngJob*>(png_get_io_ptr(png));
  if (n > job->size - job->pos) {
    std::snprintf(job->message, sizeof job->message, "truncated PNG data");
    png_error(png, "truncated");
  }
  std::memcpy(out, job->data + job->pos, n);
  job->pos += n;
}

// Decodes to 8-bit samples with 1 to 4 channels. Rows are read until the image is complete;
// chunks after the image data are not read.
bool decodePngSamples(PngJob* job) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, job, pngError, pngWarning);
  if (png == nullptr) {
    std::snprintf(job->message, sizeof job->message, "out of memory");
    return false;
  }
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    std::snprintf(job->message, sizeof job->message, "out of memory");
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, job, pngRead);
  png_set_user_limits(png, kMaxSide, kMaxSide);
  png_read_info(png, info);
  job->width = png_get_image_width(png, info);
  job->height = png_get_image_height(png, info);
  if (!checkSize(job->width, job->height, job->message, sizeof job->message)) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_expand(png);  // palette to RGB, low bit depths to 8, tRNS to alpha
  if (png_get_bit_depth(png, info) == 16) png_set_scale_16(png);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  job->channels = png_get_channels(png, info);
  const size_t rowBytes = png_get_rowbytes(png, info);
  if (job->channels < 1 || job->channels > 4 || rowBytes != static_cast<size_t>(job->width) * job->channels) {
    std::snprintf(job->message, sizeof job->message, "unsupported PNG layout");
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  job->pixels = static_cast<uint8_t*>(std::malloc(rowBytes * job->height));
  if (job->pixels == nullptr) {
    std::snprintf(job->message, sizeof job->message, "out of memory");
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  for (int pass = 0; pass < passes; ++pass)
    for (uint32_t y = 0; y < job->height; ++y) png_read_row(png, job->pixels + rowBytes * y, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

bool decodePng(const uint8_t* data, size_t size, const std::string& name, GreyImage* image, std::string* error) {
  PngJob job{};
  job.data = data;
  job.size = size;
  const bool ok = decodePngSamples(&job);
  if (!ok) {
    std::free(job.pixels);
    return fail(name, job.message[0] ? job.message : "bad PNG data", image, error);
  }
  image->width = static_cast<int>(job.width);
  image->height = static_cast<int>(job.height);
  image->pixels.resize(static_cast<size_t>(job.width) * job.height);
  toGrey(job.pixels, job.channels, image->pixels.size(), image->pixels.data());
  std::free(job.pixels);
  return true;
}

// ---------------------------------------------------------------- JPEG

struct JpegJob {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX + 32];
  uint8_t* pixels;  // malloc'd, width * height * components
  uint32_t width;
  uint32_t height;
  int components;
  bool invertedCmyk;
};

JpegJob* jobOf(j_common_ptr c) { return static_cast<JpegJob*>(c->client_data); }

void jpegErrorExit(j_common_ptr c) {
  JpegJob* job = jobOf(c);
  char text[JMSG_LENGTH_MAX];
  (*c->err->format_message)(c, text);
  std::snprintf(job->message, sizeof job->message, "bad JPEG data (%s)", text);
  std::longjmp(job->jump, 1);
}

// Running out of data is an error; other warnings (stray bytes and the like) are tolerated.
void jpegEmitMessage(j_common_ptr c, int level) {
  if (level < 0 && c->err->msg_code == JWRN_JPEG_EOF) {
    JpegJob* job = jobOf(c);
    std::snprintf(job->message, sizeof job->message, "truncated JPEG data");
    std::longjmp(job->jump, 1);
  }
}

void jpegOutputMessage(j_common_ptr) {}

bool decodeJpegSamples(JpegJob* job, const uint8_t* data, size_t size) {
  std::memset(&job->cinfo, 0, sizeof job->cinfo);
  job->cinfo.err = jpeg_std_error(&job->err);
  job->cinfo.client_data = job;  // kept by jpeg_create_decompress
  job->err.error_exit = jpegErrorExit;
  job->err.emit_message = jpegEmitMessage;
  job->err.output_message = jpegOutputMessage;
  if (setjmp(job->jump)) {
    jpeg_destroy_decompress(&job->cinfo);
    return false;
  }
  jpeg_create_decompress(&job->cinfo);
  jpeg_mem_src(&job->cinfo, data, static_cast<unsigned long>(size));
  if (jpeg_read_header(&job->cinfo, TRUE) != JPEG_HEADER_OK) {
    std::snprintf(job->message, sizeof job->message, "no image in JPEG data");
    jpeg_destroy_decompress(&job->cinfo);
    return false;
  }
  if (!checkSize(job->cinfo.image_width, job->cinfo.image_height, job->message, sizeof job->message)) {
    jpeg_destroy_decompress(&job->cinfo);
    return false;
  }
  const bool cmyk = job->cinfo.jpeg_color_space == JCS_CMYK || job->cinfo.jpeg_color_space == JCS_YCCK;
  job->cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_GRAYSCALE;
  job->invertedCmyk = cmyk && job->cinfo.saw_Adobe_marker;
  jpeg_start_decompress(&job->cinfo);
  job->width = job->cinfo.output_width;
  job->height = job->cinfo.output_height;
  job->components = job->cinfo.output_components;
  if (job->components != (cmyk ? 4 : 1)) {
    std::snprintf(job->message, sizeof job->message, "unsupported JPEG colour layout");
    jpeg_destroy_decompress(&job->cinfo);
    return false;
  }
  const size_t rowBytes = static_cast<size_t>(job->width) * job->components;
  job->pixels = static_cast<uint8_t*>(std::malloc(rowBytes * job->height));
  if (job->pixels == nullptr) {
    std::snprintf(job->message, sizeof job->message, "out of memory");
    jpeg_destroy_decompress(&job->cinfo);
    return false;
  }
  while (job->cinfo.output_scanline < job->height) {
    JSAMPROW row = job->pixels + rowBytes * job->cinfo.output_scanline;
    jpeg_read_scanlines(&job->cinfo, &row, 1);
  }
  jpeg_destroy_decompress(&job->cinfo);
  return true;
}

bool decodeJpeg(const uint8_t* data, size_t size, const std::string& name, GreyImage* image, std::string* error) {
  JpegJob* job = static_cast<JpegJob*>(std::calloc(1, sizeof(JpegJob)));
  if (job == nullptr) return fail(name, "out of memory", image, error);
  if (!decodeJpegSamples(job, data, size)) {
    const std::string reason = job->message[0] ? job->message : "bad JPEG data";
    std::free(job->pixels);
    std::free(job);
    return fail(name, reason, image, error);
  }
  image->width = static_cast<int>(job->width);
  image->height = static_cast<int>(job->height);
  const size_t n = static_cast<size_t>(job->width) * job->height;
  image->pixels.resize(n);
  if (job->components == 1) {
    std::memcpy(image->pixels.data(), job->pixels, n);
  } else {
    for (size_t i = 0; i < n; ++i) {
      unsigned c = job->pixels[4 * i], m = job->pixels[4 * i + 1], y = job->pixels[4 * i + 2], k = job->pixels[4 * i + 3];
      if (!job->invertedCmyk) {
        c = 255 - c;
        m = 255 - m;
        y = 255 - y;
        k = 255 - k;
      }
      image->pixels[i] = luma((c * k + 127) / 255, (m * k + 127) / 255, (y * k + 127) / 255);
    }
  }
  std::free(job->pixels);
  std::free(job);
  return true;
}

// ---------------------------------------------------------------- WebP

bool decodeWebp(const uint8_t* data, size_t size, const std::string& name, GreyImage* image, std::string* error) {
  WebPDecoderConfig config;
  if (!WebPInitDecoderConfig(&config)) return fail(name, "WebP decoder version mismatch", image, error);
  VP8StatusCode st = WebPGetFeatures(data, size, &config.input);
  if (st == VP8_STATUS_NOT_ENOUGH_DATA) return fail(name, "truncated WebP data", image, error);
  if (st != VP8_STATUS_OK) return fail(name, "bad WebP data", image, error);
  if (config.input.has_animation) return fail(name, "animated WebP is not supported", image, error);
  char reason[80];
  if (!checkSize(static_cast<uint64_t>(std::max(0, config.input.width)),
                 static_cast<uint64_t>(std::max(0, config.input.height)), reason, sizeof reason))
    return fail(name, reason, image, error);
  const int w = config.input.width, h = config.input.height;
  std::vector<uint8_t> rgba(static_cast<size_t>(w) * h * 4);
  config.output.colorspace = MODE_RGBA;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = rgba.data();
  config.output.u.RGBA.stride = w * 4;
  config.output.u.RGBA.size = rgba.size();
  st = WebPDecode(data, size, &config);
  WebPFreeDecBuffer(&config.output);
  if (st == VP8_STATUS_NOT_ENOUGH_DATA) return fail(name, "truncated WebP data", image, error);
  if (st != VP8_STATUS_OK) return fail(name, "bad WebP data", image, error);
  image->width = w;
  image->height = h;
  image->pixels.resize(static_cast<size_t>(w) * h);
  toGrey(rgba.data(), 4, image->pixels.size(), image->pixels.data());
  return true;
}

// ---------------------------------------------------------------- PGM / PPM

bool isSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }
bool isDigit(uint8_t c) { return c >= '0' && c <= '9'; }

class PnmParser {
 public:
  PnmParser(const uint8_t* data, size_t size) : p_(data), size_(size) {}

  // Skips white space and comments ('#' to the end of the line).
  void skipSeparators() {
    while (pos_ < size_) {
      if (isSpace(p_[pos_])) {
        ++pos_;
      } else if (p_[pos_] == '#') {
        while (pos_ < size_ && p_[pos_] != '\n' && p_[pos_] != '\r') ++pos_;
      } else {
        break;
      }
    }
  }

  // A decimal number no larger than limit, ended by a separator or the end of the data.
  // Returns an empty reason on success.
  std::string number(uint32_t limit, const char* what, uint32_t* out) {
    skipSeparators();
    if (pos_ >= size_) return std::string("truncated PNM data (no ") + what + ")";
    if (!isDigit(p_[pos_])) return std::string("bad PNM data (") + what + " is not a number)";
    uint64_t v = 0;
    while (pos_ < size_ && isDigit(p_[pos_])) {
      v = v * 10 + (p_[pos_] - '0');
      if (v > limit) return std::string("bad PNM data (") + what + " too large)";
      ++pos_;
    }
    if (pos_ < size_ && !isSpace(p_[pos_]) && p_[pos_] != '#')
      return std::string("bad PNM data (junk after ") + what + ")";
    *out = static_cast<uint32_t>(v);
    return {};
  }

  size_t pos() const { return pos_; }
  void advance(size_t n) { pos_ += n; }
  size_t remaining() const { return size_ - pos_; }
  uint8_t peek() const { return p_[pos_]; }
  const uint8_t* here() const { return p_ + pos_; }

 private:
  const uint8_t* p_;
  size_t size_;
  size_t pos_ = 0;
};

bool decodePnm(const uint8_t* data, size_t size, const std::string& name, GreyImage* image, std::string* error) {
  const char kind = static_cast<char>(data[1]);
  if (kind != '2' && kind != '3' && kind != '5' && kind != '6')
    return fail(name, std::string("unsupported PNM variant P") + kind + " (only P2, P3, P5 and P6 are read)", image,
                error);
  const bool ascii = kind == '2' || kind == '3';
  const int channels = kind == '3' || kind == '6' ? 3 : 1;
  PnmParser in(data, size);
  in.advance(2);
  uint32_t width = 0, height = 0, maxval = 0;
  std::string reason = in.number(UINT32_MAX, "width", &width);
  if (reason.empty()) reason = in.number(UINT32_MAX, "height", &height);
  char sizeReason[80];
  if (reason.empty() && !checkSize(width, height, sizeReason, sizeof sizeReason))
    return fail(name, sizeReason, image, error);
  if (reason.empty()) reason = in.number(65535, "maxval", &maxval);
  if (reason.empty() && maxval == 0) reason = "bad PNM data (maxval 0)";
  if (!reason.empty()) return fail(name, reason, image, error);

  // The raster must be there before anything is allocated for it: a tiny file that claims a
  // huge size is refused at once. Plain samples take at least a digit and a separator each.
  const size_t count = static_cast<size_t>(width) * height, sampleCount = count * channels;
  const size_t leastRaster = ascii ? 2 * sampleCount - 1 : (maxval < 256 ? 1 : 2) * sampleCount + 1;
  if (in.remaining() < leastRaster) return fail(name, "truncated PNM data", image, error);
  std::vector<uint16_t> samples(sampleCount);
  if (ascii) {
    for (size_t i = 0; i < samples.size(); ++i) {
      uint32_t v = 0;
      reason = in.number(maxval, "sample", &v);
      if (!reason.empty()) {
        if (reason.find("too large") != std::string::npos) reason = "bad PNM data (sample exceeds maxval)";
        return fail(name, reason, image, error);
      }
      samples[i] = static_cast<uint16_t>(v);
    }
  } else {
    // Exactly one white-space byte separates the header from the raster.
    if (in.remaining() == 0) return fail(name, "truncated PNM data (no raster)", image, error);
    if (!isSpace(in.peek())) return fail(name, "bad PNM data (junk after maxval)", image, error);
    in.advance(1);
    const size_t bytesPer = maxval < 256 ? 1 : 2;
    if (in.remaining() / bytesPer < samples.size()) return fail(name, "truncated PNM data", image, error);
    const uint8_t* r = in.here();
    for (size_t i = 0; i < samples.size(); ++i) {
      const uint32_t v = bytesPer == 1 ? r[i] : (static_cast<uint32_t>(r[2 * i]) << 8) | r[2 * i + 1];
      if (v > maxval) return fail(name, "bad PNM data (sample exceeds maxval)", image, error);
      samples[i] = static_cast<uint16_t>(v);
    }
  }
  image->width = static_cast<int>(width);
  image->height = static_cast<int>(height);
  image->pixels.resize(count);
  auto scale = [maxval](uint32_t v) { return (v * 255 + maxval / 2) / maxval; };
  for (size_t i = 0; i < count; ++i) {
    if (channels == 1) {
      image->pixels[i] = static_cast<uint8_t>(scale(samples[i]));
    } else {
      image->pixels[i] = luma(scale(samples[3 * i]), scale(samples[3 * i + 1]), scale(samples[3 * i + 2]));
    }
  }
  return true;
}

// ---------------------------------------------------------------- files

}  // namespace

void interleavedToGrey(const uint8_t* src, int channels, size_t count, uint8_t* dst) { toGrey(src, channels, count, dst); }

Format detectFormat(const uint8_t* data, size_t size) {
  static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (data == nullptr) return Format::unknown;
  if (size >= 8 && std::memcmp(data, kPng, 8) == 0) return Format::png;
  if (size >= 3 && data[0] == 0xff && data[1] == 0xd8 && data[2] == 0xff) return Format::jpeg;
  if (size >= 12 && std::memcmp(data, "RIFF", 4) == 0 && std::memcmp(data + 8, "WEBP", 4) == 0) return Format::webp;
  if (size >= 3 && data[0] == 'P' && data[1] >= '1' && data[1] <= '7' && isSpace(data[2])) return Format::pnm;
  return Format::unknown;
}

const char* formatName(Format format) {
  switch (format) {
    case Format::png: return "PNG";
    case Format::jpeg: return "JPEG";
    case Format::pnm: return "PNM";
    case Format::webp: return "WebP";
    case Format::unknown: break;
  }
  return "unknown";
}

bool decodeGrey(const uint8_t* data, size_t size, const std::string& name, GreyImage* image, std::string* error) {
  if (image == nullptr) {
    if (error) *error = name + ": no output image";
    return false;
  }
  if (data == nullptr || size == 0) return fail(name, "empty file", image, error);
  switch (detectFormat(data, size)) {
    case Format::png: return decodePng(data, size, name, image, error);
    case Format::jpeg: return decodeJpeg(data, size, name, image, error);
    case Format::webp: return decodeWebp(data, size, name, image, error);
    case Format::pnm: return decodePnm(data, size, name, image, error);
    case Format::unknown: break;
  }
  return fail(name, "not a supported image format", image, error);
}

bool readGrey(const std::string& path, GreyImage* image, std::string* error) {
  if (image == nullptr) {
    if (error) *error = path + ": no output image";
    return false;
  }
  File file;
  file.f = std::fopen(path.c_str(), "rb");
  if (file.f == nullptr) return fail(path, std::string("cannot open (") + std::strerror(errno) + ")", image, error);
  std::vector<uint8_t> bytes;
  size_t used = 0;
  while (true) {
    if (bytes.size() - used < 65536) {
      if (bytes.size() >= kMaxFileBytes) return fail(path, "file too large", image, error);
      bytes.resize(std::min(kMaxFileBytes, std::max<size_t>(bytes.size() * 2, 65536 * 2)));
    }
    const size_t got = std::fread(bytes.data() + used, 1, bytes.size() - used, file.f);
    used += got;
    if (got == 0) break;
  }
  if (std::ferror(file.f)) return fail(path, std::string("cannot read (") + std::strerror(errno) + ")", image, error);
  return decodeGrey(bytes.data(), used, path, image, error);
}

}  // namespace imageio
