// Image file writing: grey and RGB PNG, grey JPEG and binary PGM. Every writer refuses an empty
// image or a pixel buffer of the wrong size before it creates the file, and reports a failed
// write or close; libjpeg's errors come back by longjmp into a function whose locals are plain
// values, as in the readers.
#include "imageio/imageio.hpp"

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>  // before jpeglib.h, which uses FILE and size_t without including them
#include <cstring>

#include <jpeglib.h>
#include <png.h>

#include "imageio/file.hpp"

namespace imageio {

namespace {

// One file being written: failures become "PATH: reason" in *error.
struct Output {
  const std::string& path;
  std::string* error;
  File file;

  bool fail(const std::string& reason) {
    if (error) *error = path + ": " + reason;
    return false;
  }
  bool checkSize(int width, int height, size_t expectedBytes, size_t actualBytes) {
    if (width <= 0 || height <= 0) return fail("empty image");
    if (actualBytes != expectedBytes) return fail("pixel buffer does not match the size");
    return true;
  }
  bool open() {
    file.f = std::fopen(path.c_str(), "wb");
    return file.f != nullptr || fail(std::string("cannot create (") + std::strerror(errno) + ")");
  }
  // Closes the file; false, with the reason, when the writing before (written) or the close
  // failed.
  bool close(bool written) {
    const int closed = std::fclose(file.f);
    file.f = nullptr;
    if (!written || closed != 0) return fail(std::string("cannot write (") + std::strerror(errno) + ")");
    return true;
  }
};

size_t pixelCount(int width, int height) { return static_cast<size_t>(std::max(0, width)) * std::max(0, height); }

bool writePngFormat(const std::string& path, int width, int height, uint32_t format, const void* pixels,
                    size_t expectedBytes, size_t actualBytes, std::string* error) {
  Output out{path, error, {}};
  if (!out.checkSize(width, height, expectedBytes, actualBytes) || !out.open()) return false;
  png_image png;
  std::memset(&png, 0, sizeof png);
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(width);
  png.height = static_cast<png_uint_32>(height);
  png.format = format;
  const int stride = static_cast<int>(PNG_IMAGE_ROW_STRIDE(png));
  if (!png_image_write_to_stdio(&png, out.file.f, 0, pixels, stride, nullptr))
    return out.fail(std::string("cannot write PNG (") + png.message + ")");
  return out.close(true);
}

struct JpegWriteJob {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX + 32];
};

void jpegWriteErrorExit(j_common_ptr c) {
  auto* job = static_cast<JpegWriteJob*>(c->client_data);
  char text[JMSG_LENGTH_MAX];
  (*c->err->format_message)(c, text);
  std::snprintf(job->message, sizeof job->message, "cannot write JPEG (%s)", text);
  std::longjmp(job->jump, 1);
}

void jpegQuiet(j_common_ptr) {}

// The libjpeg part, in a function of its own whose locals are all set before setjmp.
bool compressJpeg(JpegWriteJob* job, std::FILE* f, const GreyImage& image, int quality) {
  std::memset(&job->cinfo, 0, sizeof job->cinfo);
  job->cinfo.err = jpeg_std_error(&job->err);
  job->cinfo.client_data = job;
  job->err.error_exit = jpegWriteErrorExit;
  job->err.output_message = jpegQuiet;
  if (setjmp(job->jump)) {
    jpeg_destroy_compress(&job->cinfo);
    return false;
  }
  jpeg_create_compress(&job->cinfo);
  jpeg_stdio_dest(&job->cinfo, f);
  job->cinfo.image_width = static_cast<JDIMENSION>(image.width);
  job->cinfo.image_height = static_cast<JDIMENSION>(image.height);
  job->cinfo.input_components = 1;
  job->cinfo.in_color_space = JCS_GRAYSCALE;
  jpeg_set_defaults(&job->cinfo);
  jpeg_set_quality(&job->cinfo, quality, TRUE);
  jpeg_start_compress(&job->cinfo, TRUE);
  while (job->cinfo.next_scanline < job->cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(image.pixels.data() + static_cast<size_t>(job->cinfo.next_scanline) * image.width);
    jpeg_write_scanlines(&job->cinfo, &row, 1);
  }
  jpeg_finish_compress(&job->cinfo);
  jpeg_destroy_compress(&job->cinfo);
  return true;
}

}  // namespace

bool writePng(const std::string& path, const GreyImage& image, std::string* error) {
  return writePngFormat(path, image.width, image.height, PNG_FORMAT_GRAY, image.pixels.data(),
                        pixelCount(image.width, image.height), image.pixels.size(), error);
}

bool writePngRgb(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb, std::string* error) {
  return writePngFormat(path, width, height, PNG_FORMAT_RGB, rgb.data(), pixelCount(width, height) * 3, rgb.size(),
                        error);
}

bool writeJpeg(const std::string& path, const GreyImage& image, int quality, std::string* error) {
  Output out{path, error, {}};
  if (!out.checkSize(image.width, image.height, pixelCount(image.width, image.height), image.pixels.size()))
    return false;
  if (quality < 1 || quality > 100) return out.fail("JPEG quality outside 1 ... 100");
  if (!out.open()) return false;
  JpegWriteJob job;
  if (!compressJpeg(&job, out.file.f, image, quality)) return out.fail(job.message);
  return out.close(true);
}

bool writePgm(const std::string& path, const GreyImage& image, std::string* error) {
  Output out{path, error, {}};
  if (!out.checkSize(image.width, image.height, pixelCount(image.width, image.height), image.pixels.size()) ||
      !out.open())
    return false;
  const bool written = std::fprintf(out.file.f, "P5\n%d %d\n255\n", image.width, image.height) > 0 &&
                       std::fwrite(image.pixels.data(), 1, image.pixels.size(), out.file.f) == image.pixels.size();
  return out.close(written);
}

}  // namespace imageio
