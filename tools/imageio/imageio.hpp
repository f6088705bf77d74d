// Reading image files as 8-bit grey and writing PNG and PGM files, for the command-line tools.
//
// Readers take the format from the file's first bytes, never from its name: PNG, JPEG,
// PGM/PPM (binary P5/P6 and plain-text P2/P3, maxval up to 65535) and WebP (still images).
// Whatever the file holds becomes one 8-bit grey plane:
//   - colour becomes grey with the luma weights 0.299 R + 0.587 G + 0.114 B, rounded;
//   - samples deeper than 8 bits are scaled to 0..255 and rounded (v * 255 / max);
//   - palettes are expanded, and transparency is composited over white:
//     grey' = (grey * alpha + 255 * (255 - alpha)) / 255, rounded;
//   - JPEG grey is the decoder's luma (Y) plane; CMYK JPEGs are converted through RGB;
//   - gamma and colour-profile chunks are ignored: sample values are taken as they stand.
// Every failure comes back as a message "<name>: <reason>", for example
//   "scan.png: cannot open (No such file or directory)", "x.png: truncated PNG data",
//   "notes.txt: not a supported image format", "big.pgm: image too large (70000 x 70000)".
// Nothing escapes as an exception or an abort, running out of memory included ("x.png: out of
// memory"). Images above kMaxPixels pixels or with a side above kMaxSide are refused before
// their pixels are allocated, and so is a file too short to hold the raster its header claims
// (PNM, WebP). A PNG is read up to its last row: compressed data after it is never inflated.
#ifndef IDUT_TOOLS_IMAGEIO_HPP
#define IDUT_TOOLS_IMAGEIO_HPP

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace imageio {

inline constexpr int64_t kMaxPixels = int64_t{1} << 28;
inline constexpr int kMaxSide = 1 << 17;
inline constexpr uint64_t kMaxFileBytes = uint64_t{1} << 30;

// An 8-bit grey image, row-major with stride == width.
struct GreyImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;
};

enum class Format { unknown, png, jpeg, pnm, webp };

// The format announced by the first bytes (a PNM file needs "P1".."P7" and a white-space byte).
Format detectFormat(const uint8_t* data, size_t size);
const char* formatName(Format format);

// Decodes an image held in memory; name only labels the messages. On failure returns false,
// sets *error and leaves *image empty.
bool decodeGrey(const uint8_t* data, size_t size, const std::string& name, GreyImage* image, std::string* error);

// Interleaved 8-bit pixels of `channels` samples (1 grey, 2 grey + alpha, 3 RGB, 4 RGBA) to
// grey by the rules above, as the readers convert what they decode; count is the pixel count.
void interleavedToGrey(const uint8_t* src, int channels, size_t count, uint8_t* dst);

// Reads and decodes a file of at most kMaxFileBytes. Only regular files are read (symbolic links
// to them followed): a directory, FIFO, socket or device is refused without waiting on it.
bool readGrey(const std::string& path, GreyImage* image, std::string* error);

// Writers; on failure return false with "<path>: <reason>" in *error.
bool writePng(const std::string& path, const GreyImage& image, std::string* error);
// rgb holds width * height pixels of three bytes each.
bool writePngRgb(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb, std::string* error);
// Baseline grey JPEG at the given quality (1 ... 100).
bool writeJpeg(const std::string& path, const GreyImage& image, int quality, std::string* error);
// Binary PGM (P5, maxval 255).
bool writePgm(const std::string& path, const GreyImage& image, std::string* error);

}  // namespace imageio

#endif
