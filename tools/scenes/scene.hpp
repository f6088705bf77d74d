// Scenes with real Data Matrix symbols and exact ground truth.
//
// Symbols come from libzint's module matrix and are drawn here, module by module, through a
// known projective map, so every corner of every symbol is known to floating-point precision.
// Scenes add clutter (text-like glyphs, bar groups, lines), a background gradient, Gaussian blur
// and Gaussian noise. Everything is deterministic from a seed: the random numbers come from
// std::mt19937 through distributions written here, so a seed gives the same bytes with every
// standard library.
//
// Pixel convention: pixel (x, y) covers [x, x+1) x [y, y+1); its centre is (x + 0.5, y + 0.5).
// Every Point in this header uses it. Subtract 0.5 from both coordinates to get coordinates in
// which pixel centres are integers.
//
// Symbol coordinates: u runs along the rows (one unit per column), v down the columns (one unit
// per row); (0, 0) is the outer corner of module (row 0, column 0). Row 0 is the alternating
// (clock) row and column cols-1 the alternating column; column 0 and row rows-1 are the solid
// edges, which meet at the L corner (0, rows).
#ifndef IDUT_TOOLS_SCENES_SCENE_HPP
#define IDUT_TOOLS_SCENES_SCENE_HPP

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "base/cimg.h"

namespace scene {

struct Point {
  double x = 0;
  double y = 0;
};

// An 8-bit grey image, row-major with stride == width.
struct GreyImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;

  GreyImage() = default;
  GreyImage(int w, int h, uint8_t fill = 0);
  uint8_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
  uint8_t& at(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
  // Bilinear interpolation at a continuous position (pixel convention above); positions outside
  // the image take the nearest border pixel.
  double sample(Point p) const;
  // Mean over the pixels whose centres lie within radius of p (at least the nearest pixel).
  double meanAround(Point p, double radius) const;
};

// A read-only library image over a GreyImage's pixels; the GreyImage must outlive the view.
class ImageView {
 public:
  explicit ImageView(const GreyImage& image);
  ~ImageView();
  ImageView(const ImageView&) = delete;
  ImageView& operator=(const ImageView&) = delete;
  const cimg_imageConst* get() const { return &image_; }
  const cimg_imageConst& operator*() const { return image_; }

 private:
  cimg_imageConst image_;
};

// Deterministic random numbers (see the top of this file).
class Random {
 public:
  explicit Random(uint32_t seed) : engine_(seed) {}
  uint32_t bits() { return static_cast<uint32_t>(engine_()); }
  double uniform();                       // [0, 1) with 53 random bits
  double uniform(double lo, double hi);   // [lo, hi)
  int uniformInt(int lo, int hi);         // [lo, hi], unbiased (rejection)
  bool chance(double p) { return uniform() < p; }
  double gaussian(double mean, double sigma);  // Box-Muller

 private:
  std::mt19937 engine_;
  bool haveSpare_ = false;
  double spare_ = 0;
};

// A Data Matrix module matrix as libzint encodes it.
struct DmSymbol {
  std::string text;
  int rows = 0;
  int cols = 0;
  std::vector<uint8_t> modules;  // rows * cols, row-major from row 0; 1 = dark ("set") module
  bool isDark(int row, int col) const { return modules[static_cast<size_t>(row) * cols + col] != 0; }
};

// Which sizes libzint may pick when sizeOption is 0: square only, or square, rectangular and
// the rectangular extension sizes.
enum class DmSizes { squareOnly, withRectangular };

// Encodes text. sizeOption is libzint's option_2: 0 picks the smallest size that fits,
// 1..24 are the square sizes 10x10 .. 144x144, 25..30 the rectangular sizes 8x18 .. 16x48,
// 31..48 the rectangular extension sizes 8x48 .. 26x64. Throws std::runtime_error with
// libzint's message when the text does not fit or an option is invalid.
DmSymbol encodeDataMatrix(const std::string& text, int sizeOption = 0, DmSizes sizes = DmSizes::squareOnly);

// A projective map of the plane: (x, y) = (m00 u + m01 v + m02, m10 u + m11 v + m12) / w with
// w = m20 u + m21 v + m22.
struct Homography {
  double m[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  Point map(double u, double v) const;
  Point map(Point p) const { return map(p.x, p.y); }
  double w(double u, double v) const { return m[2][0] * u + m[2][1] * v + m[2][2]; }
  Homography inverse() const;  // throws std::runtime_error when singular
  Homography operator*(const Homography& rhs) const;  // (a * b).map(p) == a.map(b.map(p))
};

// The projective map taking from[i] to to[i] (solved as an 8x8 linear system); throws
// std::runtime_error when three of the points are collinear.
Homography homographyFromPoints(const std::array<Point, 4>& from, const std::array<Point, 4>& to);

enum class Polarity { darkOnLight, lightOnDark };

// Where and how one symbol is drawn.
struct Placement {
  Point centre{0, 0};       // image position of the symbol's centre (u, v) = (cols/2, rows/2)
  double moduleSize = 4;    // pixels per module at the centre (before perspective)
  double angleDeg = 0;      // direction of the u axis (L corner towards the end of the solid row):
                            // 0 points along +x, 90 along +y (clockwise on screen, y down)
  double perspectiveU = 0;  // keystone along u: the side at u = cols is (1 - p/2) / (1 + p/2)
                            // times as long as the side at u = 0; |p| < 1, "mild" is below 0.3
  double perspectiveV = 0;  // the same along v
  int quietZone = 1;        // modules of light margin around the symbol
  Polarity polarity = Polarity::darkOnLight;
  bool mirrored = false;    // drawn as its mirror image (the symbol seen from the back of a film)
  int antiAlias = 8;        // a pixel across a module edge is the mean of antiAlias^2 samples
};

// Ground truth of one rendered symbol. Corners are outer corners of the module grid.
struct SymbolTruth {
  DmSymbol symbol;
  Placement placement;
  Homography imageFromModule;  // symbol coordinates (u, v) to image pixels
  int rows = 0;
  int cols = 0;
  double moduleSize = 0;
  Polarity polarity = Polarity::darkOnLight;
  uint8_t setLevel = 0;    // grey of set (dark in print) modules before blur and noise
  uint8_t unsetLevel = 0;  // grey of unset modules and the quiet zone before blur and noise
  Point lCorner;    // (0, rows): where the two solid edges meet
  Point rowEnd;     // (cols, rows): far end of the solid row
  Point columnEnd;  // (0, 0): far end of the solid column
  Point opposite;   // (cols, 0): where the two alternating edges meet
  std::array<Point, 4> quietZoneQuad;  // outline of symbol plus quiet zone, in the order above
  // Corners in the order lCorner, rowEnd, opposite, columnEnd (a closed outline).
  std::array<Point, 4> outline() const { return {lCorner, rowEnd, opposite, columnEnd}; }
};

// Everything that goes into a scene.
struct SceneSpec {
  int width = 320;
  int height = 240;
  double background = 200;  // background grey at the image centre
  double gradientX = 0;     // change of the background across the full width
  double gradientY = 0;     // ... and the full height
  uint8_t darkLevel = 40;   // symbol levels: set modules are dark for darkOnLight, light otherwise
  uint8_t lightLevel = 200;
  std::vector<DmSymbol> symbols;
  std::vector<Placement> placements;  // one per symbol
  int textBlocks = 0;       // clutter, placed at random but never over a symbol's quiet zone
  int barBlocks = 0;
  int lines = 0;
  double clutterLevel = 40;  // grey of the clutter
  double blurSigma = 0;      // Gaussian blur, pixels
  double noiseSigma = 0;     // additive Gaussian noise, grey levels
  uint32_t seed = 1;         // clutter layout and noise
};

struct Scene {
  GreyImage image;
  std::vector<SymbolTruth> symbols;
  SceneSpec spec;
};

// The symbol's geometry for a placement, without drawing anything.
SymbolTruth placeSymbol(const DmSymbol& symbol, const Placement& placement, uint8_t darkLevel, uint8_t lightLevel);

// Draws a scene. Throws std::runtime_error when a symbol's quiet zone leaves the image, when two
// quiet zones overlap, or when the perspective folds the quiet zone over the horizon.
Scene render(const SceneSpec& spec);

// Draws a scene whose symbols stand at random: each placement's centre is drawn where its quiet
// zone lies at least border pixels inside the image, again for all symbols until no quiet zones
// overlap. Throws std::runtime_error when a symbol cannot fit or attempts run out. spec keeps the
// centres of the scene drawn.
Scene renderAtRandom(SceneSpec& spec, Random& rng, double border, int attempts = 400);

enum class Category {
  clean,         // one symbol, high contrast, little blur and noise
  noisy,         // strong noise
  blurred,       // blur of a quarter to half a module
  lowContrast,   // 25 to 45 grey levels
  perspective,   // keystone in both directions
  multiSymbol,   // two to four symbols
  textOnly,      // no symbol: text-like clutter
  barsOnly,      // no symbol: bar groups and lines
  noiseOnly,     // no symbol: strong noise over a gradient
  plain,         // no symbol: a flat gradient
};
inline constexpr std::array<Category, 10> kAllCategories = {
    Category::clean,       Category::noisy,       Category::blurred,  Category::lowContrast,
    Category::perspective, Category::multiSymbol, Category::textOnly, Category::barsOnly,
    Category::noiseOnly,   Category::plain};
const char* categoryName(Category category);
bool hasSymbols(Category category);

// A random scene description of the category; the same (category, seed) gives the same spec.
SceneSpec makeSpec(Category category, uint32_t seed);
inline Scene generate(Category category, uint32_t seed) { return render(makeSpec(category, seed)); }

// Writes the image as a PNG (the benchmark corpus). Throws std::runtime_error when the file cannot
// be written.
void writePng(const std::string& path, const GreyImage& image);

}  // namespace scene

#endif
