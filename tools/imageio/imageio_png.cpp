// PNG reading through libpng's progressive reader: the data is fed in slices and the feeding
// stops as soon as the last row has arrived, so compressed data left after the image (a small
// picture followed by gigabytes of deflated zeros) is never inflated. Rows of a non-interlaced
// image go straight to grey; an interlaced one is assembled in a sample buffer first.
//
// libpng reports errors by longjmp: the decoding function's own locals are plain values set
// before setjmp, and everything that must survive the jump lives in a record owned by the
// caller, so nothing with a destructor is ever jumped over.
#include <png.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "imageio/decoders.hpp"

namespace imageio::detail {

namespace {

constexpr size_t kFeedBytes = 64 * 1024;  // bytes handed to libpng at a time
// Deflate makes at most 1032 bytes of a byte (a 258-byte copy in two one-bit codes).
constexpr uint64_t kMaxInflation = 1032;

uint32_t bigEndian32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

// What the chunks say before any is decoded: the header's size and sample layout, and how many
// bytes of image data the file holds.
struct PngOutline {
  bool haveHeader = false;
  uint32_t width = 0, height = 0;
  unsigned bitsPerPixel = 0;
  uint64_t dataBytes = 0;
};

PngOutline outlineOf(const uint8_t* data, size_t size) {
  PngOutline o;
  for (size_t pos = 8; pos + 8 <= size;) {
    const uint64_t length = bigEndian32(data + pos);
    const uint8_t* type = data + pos + 4;
    const uint64_t present = std::min<uint64_t>(length, size - pos - 8);
    if (std::memcmp(type, "IHDR", 4) == 0 && present >= 13 && !o.haveHeader) {
      const uint8_t* h = data + pos + 8;
      static const unsigned kSamples[7] = {1, 0, 3, 1, 2, 0, 4};  // by colour type
      o.haveHeader = true;
      o.width = bigEndian32(h);
      o.height = bigEndian32(h + 4);
      o.bitsPerPixel = h[8] * (h[9] < 7 ? kSamples[h[9]] : 0);
    } else if (std::memcmp(type, "IDAT", 4) == 0) {
      o.dataBytes += present;
    }
    pos += 12 + length;
  }
  return o;
}

struct PngJob {
  GreyImage* image;  // sized once the header is known
  char message[200];
  uint8_t* samples;  // calloc'd for interlaced images: width * height * channels
  size_t rowBytes;
  uint32_t width;
  uint32_t height;
  int channels;
  bool interlaced;
  bool done;  // every row has arrived
};

PngJob* jobOf(png_structp png) { return static_cast<PngJob*>(png_get_progressive_ptr(png)); }

void pngError(png_structp png, png_const_charp msg) {
  auto* job = static_cast<PngJob*>(png_get_error_ptr(png));
  if (job->message[0] == '\0') std::snprintf(job->message, sizeof job->message, "bad PNG data (%s)", msg);
  png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

// The header: size check, the transforms to 8-bit samples of 1 to 4 channels, the buffers.
void onHeader(png_structp png, png_infop info) {
  PngJob* job = jobOf(png);
  job->width = png_get_image_width(png, info);
  job->height = png_get_image_height(png, info);
  if (!checkSize(job->width, job->height, job->message, sizeof job->message)) png_error(png, "size");
  png_set_expand(png);  // palette to RGB, low bit depths to 8, tRNS to alpha
  if (png_get_bit_depth(png, info) == 16) png_set_scale_16(png);
  job->interlaced = png_set_interlace_handling(png) > 1;
  png_read_update_info(png, info);
  job->channels = png_get_channels(png, info);
  job->rowBytes = png_get_rowbytes(png, info);
  if (job->channels < 1 || job->channels > 4 || job->rowBytes != static_cast<size_t>(job->width) * job->channels) {
    std::snprintf(job->message, sizeof job->message, "unsupported PNG layout");
    png_error(png, "layout");
  }
  bool allocated = allocatePixels(job->image, job->width, job->height);
  if (allocated && job->interlaced) {
    job->samples = static_cast<uint8_t*>(std::calloc(job->height, job->rowBytes));
    allocated = job->samples != nullptr;
  }
  if (!allocated) {
    std::snprintf(job->message, sizeof job->message, "out of memory");
    png_error(png, "memory");
  }
}

void onRow(png_structp png, png_bytep row, png_uint_32 y, int) {
  PngJob* job = jobOf(png);
  if (y >= job->height) return;
  if (job->interlaced) {
    png_progressive_combine_row(png, job->samples + job->rowBytes * y, row);
    return;
  }
  if (row != nullptr) toGrey(row, job->channels, job->width, job->image->pixels.data() + size_t{job->width} * y);
  if (y + 1 == job->height) job->done = true;
}

void onEnd(png_structp png, png_infop) { jobOf(png)->done = true; }

bool decodePngRows(PngJob* job, const uint8_t* data, size_t size) {
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
  // The size check is ours (it says "image too large"); ancillary chunks are not even parsed,
  // since gamma, profiles and text are ignored anyway.
  png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
  png_set_progressive_read_fn(png, job, onHeader, onRow, onEnd);
  for (size_t pos = 0; pos < size && !job->done;) {
    const size_t n = std::min(kFeedBytes, size - pos);
    png_process_data(png, info, const_cast<uint8_t*>(data + pos), n);
    pos += n;
    // An interlaced image is complete once the reader has moved past its last pass.
    if (job->interlaced && png_get_current_pass_number(png) > 6) job->done = true;
  }
  png_destroy_read_struct(&png, &info, nullptr);
  if (!job->done) std::snprintf(job->message, sizeof job->message, "truncated PNG data");
  return job->done;
}

}  // namespace

bool decodePng(const uint8_t* data, size_t size, const std::string& name, GreyImage* image, std::string* error) {
  // A header that claims more pixels than the image data could inflate to is refused before
  // the picture is allocated.
  const PngOutline o = outlineOf(data, size);
  char reason[80];
  if (o.haveHeader && !checkSize(o.width, o.height, reason, sizeof reason)) return fail(name, reason, image, error);
  const uint64_t pixelBytes = uint64_t{o.height} * ((uint64_t{o.width} * o.bitsPerPixel + 7) / 8);
  if (o.haveHeader && (o.dataBytes + 1) * kMaxInflation < pixelBytes) return fail(name, "truncated PNG data", image, error);
  PngJob job{};
  job.image = image;
  const bool ok = decodePngRows(&job, data, size);
  if (ok && job.interlaced) toGrey(job.samples, job.channels, image->pixels.size(), image->pixels.data());
  std::free(job.samples);
  if (!ok) return fail(name, job.message[0] ? job.message : "bad PNG data", image, error);
  return true;
}

}  // namespace imageio::detail
