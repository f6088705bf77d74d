// JPEG and WebP reading. The JPEG decoder reports errors by longjmp: the decoding function's
// own locals are plain values set before setjmp, and every piece of state that must survive the
// jump lives in a record owned by the caller, so nothing with a destructor is ever jumped over.
// Grey JPEG rows are decoded straight into the image; CMYK ones through one row of samples.
// jpeglib.h needs size_t and FILE declared before it.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>
#include <webp/decode.h>

#include <jerror.h>

#include <algorithm>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "imageio/decoders.hpp"

namespace imageio::detail {

namespace {

// ---------------------------------------------------------------- JPEG

struct JpegJob {
  jpeg_decompress_struct cinfo;
  jpeg_error_mgr err;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX + 32];
  GreyImage* image;
  uint8_t* row;  // malloc'd, one row of CMYK samples
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

void cmykRowToGrey(const uint8_t* cmyk, uint32_t width, bool inverted, uint8_t* out) {
  for (uint32_t i = 0; i < width; ++i, cmyk += 4) {
    unsigned c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    out[i] = luma((c * k + 127) / 255, (m * k + 127) / 255, (y * k + 127) / 255);
  }
}

// Whether a file of this many bytes can hold a picture of this size. Every 8 x 8 block costs the
// entropy-coded data one bit at least (the shortest Huffman code of the scan that carries its
// first coefficient), so a file with fewer bits than the picture has blocks claims more than its
// data holds: a progressive file of a few hundred bytes would otherwise decode to a blank
// picture of a hundred megapixels, the coefficients it never sent taken as zeros. (Arithmetic
// coding could squeeze a blank page under a bit a block; such files are not made in practice.)
bool dataCanHold(uint32_t width, uint32_t height, size_t size) {
  const uint64_t blocks = (uint64_t{width} + 7) / 8 * ((uint64_t{height} + 7) / 8);
  return uint64_t{size} * 8 >= blocks;
}

bool decodeJpegRows(JpegJob* job, const uint8_t* data, size_t size) {
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
  if (!dataCanHold(job->cinfo.image_width, job->cinfo.image_height, size)) {
    std::snprintf(job->message, sizeof job->message, "truncated JPEG data");
    jpeg_destroy_decompress(&job->cinfo);
    return false;
  }
  const bool cmyk = job->cinfo.jpeg_color_space == JCS_CMYK || job->cinfo.jpeg_color_space == JCS_YCCK;
  job->cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_GRAYSCALE;
  job->invertedCmyk = cmyk && job->cinfo.saw_Adobe_marker;
  jpeg_calc_output_dimensions(&job->cinfo);
  const uint32_t width = job->cinfo.output_width, height = job->cinfo.output_height;
  if (job->cinfo.output_components != (cmyk ? 4 : 1)) {
    std::snprintf(job->message, sizeof job->message, "unsupported JPEG colour layout");
    jpeg_destroy_decompress(&job->cinfo);
    return false;
  }
  if (cmyk) job->row = static_cast<uint8_t*>(std::malloc(size_t{width} * 4));
  if ((cmyk && job->row == nullptr) || !allocatePixels(job->image, width, height)) {
    std::snprintf(job->message, sizeof job->message, "out of memory");
    jpeg_destroy_decompress(&job->cinfo);
    return false;
  }
  jpeg_start_decompress(&job->cinfo);
  while (job->cinfo.output_scanline < height) {
    uint8_t* out = job->image->pixels.data() + size_t{width} * job->cinfo.output_scanline;
    JSAMPROW row = cmyk ? job->row : out;
    if (jpeg_read_scanlines(&job->cinfo, &row, 1) != 1) {
      std::snprintf(job->message, sizeof job->message, "truncated JPEG data");
      jpeg_destroy_decompress(&job->cinfo);
      return false;
    }
    if (cmyk) cmykRowToGrey(job->row, width, job->invertedCmyk, out);
  }
  jpeg_destroy_decompress(&job->cinfo);
  return true;
}

// ---------------------------------------------------------------- WebP

uint32_t littleEndian32(const uint8_t* p) {
  return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

// Whether the file holds the whole of its image chunk: the RIFF chunks are walked up to the
// first "VP8 " or "VP8L" one, each of which must lie inside the data. A truncated file is
// refused here, before the decoder allocates the picture its header claims.
bool holdsImageChunk(const uint8_t* data, size_t size) {
  if (size < 12 || size_t{littleEndian32(data + 4)} + 8 > size) return false;
  for (size_t pos = 12; pos + 8 <= size;) {
    const uint64_t chunk = littleEndian32(data + pos + 4);
    const uint64_t end = pos + 8 + chunk + (chunk & 1);  // chunks are padded to even sizes
    const bool image = std::memcmp(data + pos, "VP8 ", 4) == 0 || std::memcmp(data + pos, "VP8L", 4) == 0;
    if (pos + 8 + chunk > size) return false;
    if (image) return true;
    pos = static_cast<size_t>(end);
  }
  return false;
}

}  // namespace

bool decodeJpeg(const uint8_t* data, size_t size, const std::string& name, GreyImage* image, std::string* error) {
  // The record is plain memory (the decoder jumps over its frames); this frees it however the
  // call ends, a failure to build the message included.
  struct Freed {
    void operator()(JpegJob* job) const {
      std::free(job->row);
      std::free(job);
    }
  };
  const std::unique_ptr<JpegJob, Freed> job(static_cast<JpegJob*>(std::calloc(1, sizeof(JpegJob))));
  if (!job) return fail(name, "out of memory", image, error);
  job->image = image;
  if (!decodeJpegRows(job.get(), data, size))
    return fail(name, job->message[0] ? job->message : "bad JPEG data", image, error);
  return true;
}

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
  if (!holdsImageChunk(data, size)) return fail(name, "truncated WebP data", image, error);
  const int w = config.input.width, h = config.input.height;
  const size_t rgbaBytes = size_t{4} * static_cast<size_t>(w) * static_cast<size_t>(h);
  // Not zero-filled: the decoder writes every byte of a picture it reports decoded.
  std::unique_ptr<uint8_t[]> rgba(new (std::nothrow) uint8_t[rgbaBytes]);
  if (!rgba) return fail(name, "out of memory", image, error);
  config.output.colorspace = MODE_RGBA;
  config.output.is_external_memory = 1;
  config.output.u.RGBA.rgba = rgba.get();
  config.output.u.RGBA.stride = w * 4;
  config.output.u.RGBA.size = rgbaBytes;
  st = WebPDecode(data, size, &config);
  WebPFreeDecBuffer(&config.output);
  if (st == VP8_STATUS_NOT_ENOUGH_DATA) return fail(name, "truncated WebP data", image, error);
  if (st == VP8_STATUS_OUT_OF_MEMORY) return fail(name, "out of memory", image, error);
  if (st != VP8_STATUS_OK) return fail(name, "bad WebP data", image, error);
  if (!allocatePixels(image, static_cast<uint32_t>(w), static_cast<uint32_t>(h)))
    return fail(name, "out of memory", image, error);
  toGrey(rgba.get(), 4, image->pixels.size(), image->pixels.data());
  return true;
}

}  // namespace imageio::detail
