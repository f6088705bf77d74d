// Image file reading (the writers are in imageio_write.cpp, PNG in imageio_png.cpp, JPEG and
// WebP in imageio_codecs.cpp): what the readers share, the PGM/PPM reader, the format dispatch
// and the file reader. A file is read only when it is a regular file no larger than the cap,
// in one allocation of its size, so neither a FIFO nor a device can hold the reader up.
#include "imageio/imageio.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "imageio/decoders.hpp"

namespace imageio {

namespace detail {

bool fail(const std::string& name, const std::string& reason, GreyImage* image, std::string* error) {
  *image = GreyImage{};
  if (error) *error = name + ": " + reason;
  return false;
}

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

bool allocatePixels(GreyImage* image, uint32_t width, uint32_t height) noexcept {
  try {
    image->pixels.resize(size_t{width} * height);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  image->width = static_cast<int>(width);
  image->height = static_cast<int>(height);
  return true;
}

namespace {

template <int kChannels>
void toGreyAs(const uint8_t* src, size_t count, uint8_t* dst) {
  for (size_t i = 0; i < count; ++i, src += kChannels) {
    if constexpr (kChannels == 1) dst[i] = src[0];
    else if constexpr (kChannels == 2) dst[i] = overWhite(src[0], src[1]);
    else if constexpr (kChannels == 3) dst[i] = luma(src[0], src[1], src[2]);
    else dst[i] = overWhite(luma(src[0], src[1], src[2]), src[3]);
  }
}

}  // namespace

// One loop per channel count, chosen once rather than at every pixel, so each can vectorise.
void toGrey(const uint8_t* src, int channels, size_t count, uint8_t* dst) {
  switch (channels) {
    case 1: toGreyAs<1>(src, count, dst); break;
    case 2: toGreyAs<2>(src, count, dst); break;
    case 3: toGreyAs<3>(src, count, dst); break;
    default: toGreyAs<4>(src, count, dst); break;
  }
}

// ---------------------------------------------------------------- PGM / PPM

bool isSpace(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

namespace {

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
  // Returns null on success, else the reason (a static string, so no allocation per sample).
  const char* number(uint32_t limit, uint32_t* out) {
    skipSeparators();
    if (pos_ >= size_) return "truncated PNM data";
    if (!isDigit(p_[pos_])) return "is not a number";
    uint64_t v = 0;
    while (pos_ < size_ && isDigit(p_[pos_])) {
      v = v * 10 + (p_[pos_] - '0');
      if (v > limit) return "too large";
      ++pos_;
    }
    if (pos_ < size_ && !isSpace(p_[pos_]) && p_[pos_] != '#') return "junk after";
    *out = static_cast<uint32_t>(v);
    return nullptr;
  }

  // The same for a header field, with the field named in the reason.
  std::string field(uint32_t limit, const char* what, uint32_t* out) {
    const char* problem = number(limit, out);
    if (problem == nullptr) return {};
    if (std::strcmp(problem, "truncated PNM data") == 0) return std::string("truncated PNM data (no ") + what + ")";
    if (std::strcmp(problem, "junk after") == 0) return std::string("bad PNM data (junk after ") + what + ")";
    return std::string("bad PNM data (") + what + " " + problem + ")";
  }

  size_t remaining() const { return size_ - pos_; }
  uint8_t peek() const { return p_[pos_]; }
  const uint8_t* here() const { return p_ + pos_; }
  void advance(size_t n) { pos_ += n; }

 private:
  const uint8_t* p_;
  size_t size_;
  size_t pos_ = 0;
};

// The samples of a P2/P3 (plain) or P5/P6 (binary) raster, one at a time; false with a reason
// at the first bad one.
class PnmSamples {
 public:
  PnmSamples(PnmParser& in, bool plain, uint32_t maxval) : in_(in), plain_(plain), maxval_(maxval) {}

  bool next(uint32_t* v) {
    if (plain_) {
      const char* problem = in_.number(maxval_, v);
      if (problem == nullptr) return true;
      reason_ = std::strcmp(problem, "truncated PNM data") == 0 ? "truncated PNM data"
                : std::strcmp(problem, "too large") == 0     ? "bad PNM data (sample exceeds maxval)"
                                                             : "bad PNM data (sample is not a number)";
      return false;
    }
    const uint8_t* r = in_.here() + position_;
    *v = maxval_ < 256 ? r[0] : (uint32_t{r[0]} << 8) | r[1];
    position_ += maxval_ < 256 ? 1 : 2;
    if (*v <= maxval_) return true;
    reason_ = "bad PNM data (sample exceeds maxval)";
    return false;
  }
  const char* reason() const { return reason_; }

 private:
  PnmParser& in_;
  bool plain_;
  uint32_t maxval_;
  size_t position_ = 0;  // binary: bytes consumed
  const char* reason_ = "";
};

}  // namespace

bool decodePnm(const uint8_t* data, size_t size, const std::string& name, GreyImage* image, std::string* error) {
  const char kind = static_cast<char>(data[1]);
  if (kind != '2' && kind != '3' && kind != '5' && kind != '6')
    return fail(name, std::string("unsupported PNM variant P") + kind + " (only P2, P3, P5 and P6 are read)", image,
                error);
  const bool plain = kind == '2' || kind == '3';
  const int channels = kind == '3' || kind == '6' ? 3 : 1;
  PnmParser in(data, size);
  in.advance(2);
  uint32_t width = 0, height = 0, maxval = 0;
  std::string reason = in.field(UINT32_MAX, "width", &width);
  if (reason.empty()) reason = in.field(UINT32_MAX, "height", &height);
  char sizeReason[80];
  if (reason.empty() && !checkSize(width, height, sizeReason, sizeof sizeReason))
    return fail(name, sizeReason, image, error);
  if (reason.empty()) reason = in.field(65535, "maxval", &maxval);
  if (reason.empty() && maxval == 0) reason = "bad PNM data (maxval 0)";
  if (!reason.empty()) return fail(name, reason, image, error);

  // The raster must be there before anything is allocated for it: a tiny file that claims a
  // huge size is refused at once. Plain samples take at least a digit and a separator each;
  // exactly one white-space byte separates a binary raster from the header.
  const size_t count = size_t{width} * height, sampleCount = count * channels;
  const size_t bytesPer = maxval < 256 ? 1 : 2;
  const size_t leastRaster = plain ? 2 * sampleCount - 1 : bytesPer * sampleCount + 1;
  if (in.remaining() < leastRaster) return fail(name, "truncated PNM data", image, error);
  if (!plain) {
    if (!isSpace(in.peek())) return fail(name, "bad PNM data (junk after maxval)", image, error);
    in.advance(1);
  }
  if (!allocatePixels(image, width, height)) return fail(name, "out of memory", image, error);
  PnmSamples samples(in, plain, maxval);
  auto scale = [maxval](uint32_t v) { return (v * 255 + maxval / 2) / maxval; };
  uint8_t* out = image->pixels.data();
  uint32_t rgb[3];
  for (size_t i = 0; i < count; ++i) {
    for (int c = 0; c < channels; ++c)
      if (!samples.next(&rgb[c])) return fail(name, samples.reason(), image, error);
    out[i] = channels == 1 ? static_cast<uint8_t>(scale(rgb[0])) : luma(scale(rgb[0]), scale(rgb[1]), scale(rgb[2]));
  }
  return true;
}

}  // namespace detail

using namespace detail;

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

namespace {

bool decodeByFormat(const uint8_t* data, size_t size, const std::string& name, GreyImage* image, std::string* error) {
  *image = GreyImage{};  // an earlier picture's memory is given back before this one is read
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

// The last word on a failure that left no room even for its message: the image is emptied and
// the error becomes what can still be said.
bool outOfMemory(const std::string& name, GreyImage* image, std::string* error) noexcept {
  *image = GreyImage{};
  if (error) {
    try {
      *error = name + ": out of memory";
    } catch (...) {
      error->clear();  // a cleared string keeps its buffer, so this cannot fail
    }
  }
  return false;
}

// An open descriptor that closes itself.
struct Descriptor {
  int fd = -1;
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
};

std::string systemReason(const char* what, int err) { return std::string(what) + " (" + std::strerror(err) + ")"; }

bool readRegularFile(const std::string& path, GreyImage* image, std::string* error) {
  Descriptor file;
  // Opened without waiting, so that a FIFO with no writer cannot block the reader; what is not
  // a regular file is refused before a byte is read.
  file.fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (file.fd < 0) return fail(path, systemReason("cannot open", errno), image, error);
  struct stat info;
  if (::fstat(file.fd, &info) != 0) return fail(path, systemReason("cannot read", errno), image, error);
  if (S_ISDIR(info.st_mode)) return fail(path, "is a directory", image, error);
  if (!S_ISREG(info.st_mode)) return fail(path, "not a regular file", image, error);
  if (info.st_size < 0 || static_cast<uint64_t>(info.st_size) > kMaxFileBytes)
    return fail(path, "file too large (over 1 GiB)", image, error);
  const size_t size = static_cast<size_t>(info.st_size);
  std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[std::max<size_t>(size, 1)]);
  if (!bytes) return fail(path, "out of memory", image, error);
  // The size stated when the file was opened is what is read: a file that shrinks meanwhile is
  // read to its new end, one that grows is read to its old one.
  size_t used = 0;
  while (used < size) {
    const ssize_t got = ::read(file.fd, bytes.get() + used, size - used);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return fail(path, systemReason("cannot read", errno), image, error);
    if (got == 0) break;
    used += static_cast<size_t>(got);
  }
  ::close(file.fd);
  file.fd = -1;
  return decodeByFormat(bytes.get(), used, path, image, error);
}

}  // namespace

bool decodeGrey(const uint8_t* data, size_t size, const std::string& name, GreyImage* image, std::string* error) {
  if (image == nullptr) {
    if (error) *error = name + ": no output image";
    return false;
  }
  try {
    return decodeByFormat(data, size, name, image, error);
  } catch (const std::bad_alloc&) {
    return outOfMemory(name, image, error);
  }
}

bool readGrey(const std::string& path, GreyImage* image, std::string* error) {
  if (image == nullptr) {
    if (error) *error = path + ": no output image";
    return false;
  }
  try {
    return readRegularFile(path, image, error);
  } catch (const std::bad_alloc&) {
    return outOfMemory(path, image, error);
  }
}

}  // namespace imageio
