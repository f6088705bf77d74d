// What the corpus tables (corpus.cpp, corpus_oned.cpp, corpus_pdf.cpp) measure alike: the clock
// each library is timed by, ZXing's reads of both polarities, and the matching of both
// libraries' finds to a scene's true symbols.
#ifndef IDUT_BENCH_CORPUS_SUPPORT_HPP
#define IDUT_BENCH_CORPUS_SUPPORT_HPP

#define ZX_USE_UTF8 1
#include <ZXing/ReadBarcode.h>

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "idut/read.hpp"
#include "scenes/scene.hpp"

namespace corpus {

// A point in time on the wall clock or (cpuTime) on the calling thread's CPU clock, so that other
// work on a shared machine does not count.
struct Stamp {
  std::chrono::steady_clock::time_point wall;
  double cpuMs = 0;
};
Stamp now(bool cpuTime = false);
double msSince(const Stamp& start, bool cpuTime = false);

// One ZXing result: the centre of its position (in the scenes' convention, pixel centres at
// x + 0.5) and its text.
struct ZxingFind {
  scene::Point centre;
  std::string text;
  std::string bytes;  // the content as encoded, before any character set conversion
};

// What one table row adds up over its images.
struct Tally {
  int images = 0;
  int truthSymbols = 0;
  int idutLocated = 0;   // matched to truth (or reported, without truth)
  int idutFalse = 0;     // reported but matching no true symbol
  int idutDecoded = 0;   // located and read with the true text (or read, without truth)
  int zxingLocated = 0;  // read with the true text inside the true outline (or read, without truth)
  double idutMs = 0;
  double zxingMs = 0;
  double megapixels = 0;
  // One image with its true symbols (empty without ground truth) and both libraries' finds and
  // times. Each true symbol takes the first idut find not yet taken whose corners match (decoded
  // when that find read the true text), and counts for ZXing when a ZXing result with its text
  // lies inside its outline; idut finds no symbol took are false.
  void addImage(const scene::GreyImage& image, std::span<const scene::SymbolTruth> truths,
                const std::vector<idut::Symbol>& idut, double idutMs, const std::vector<ZxingFind>& zxing,
                double zxingMs);
  void add(const Tally& o);
};

// ZXing's valid results for format (try-harder and try-rotate) on the image and on its
// inversion: the version packaged here reads dark-on-light symbols only, so a caller wanting both
// polarities reads twice, and ms (timed by now(cpuTime)) counts both reads.
std::vector<ZxingFind> zxingFinds(const scene::GreyImage& image, ZXing::BarcodeFormat format, bool cpuTime,
                                  double& ms);

// What work returns, computed in a forked child process; nothing when the child aborts (or the
// fork or the pipe fails). Debian's ZXing-C++ 1.4 fails an assertion (and aborts) on certain
// images, as when it compares two 1D results of one scene: each such read runs in a child.
std::optional<std::string> inChildProcess(const std::function<std::string()>& work);

// Whether p lies inside (or on) the convex quadrilateral quad.
bool insideConvex(const std::array<scene::Point, 4>& quad, scene::Point p);

// Writes image as DIRECTORY/NAME-INDEX.png for --write; nothing when directory is empty.
void writeScene(const std::string& directory, const std::string& name, int index, const scene::GreyImage& image);

// Every true corner has a reported corner within max(2 px, one module).
bool cornersMatch(const idut::Symbol& found, const scene::SymbolTruth& truth);

// idut's symbols of the image through the front door (a failure keeps what was found before it).
std::vector<idut::Symbol> readIdut(const scene::GreyImage& image, const idut::ReadOptions& options);

// The image turned quarterTurns (0..3) quarter turns clockwise.
scene::GreyImage rotated(const scene::GreyImage& in, int quarterTurns);

// The image file as a grey scene image; false (the reason on stderr, as "idut-corpus: ...") when
// it cannot be read.
bool readImage(const std::string& file, scene::GreyImage* image);

}  // namespace corpus

#endif
