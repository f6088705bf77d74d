// Data Matrix symbols that fill the picture, through the front door with the default options:
// quiet zones of zero and one module, both polarities, every quarter turn and a slight tilt,
// mirrored, modules of 1.5 to 4 pixels; each read with its exact text or not at all. And the
// frame the road searches in: its levels for the edges it meets, and the symbols it finds that
// the image alone does not show the driver.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "idut/read.hpp"
#include "reader/datamatrix/dmframe.hpp"
#include "reader/datamatrix/dmroad.hpp"
#include "scenes/scene_dm.hpp"

namespace {

using scene::Polarity;

struct Tally {
  int total = 0, read = 0, wrong = 0;
  int misplaced = 0;  // read with the text, but with a corner off the symbol's
  double rate() const { return total ? double(read) / total : 0; }
};

// Every true corner has a reported corner within max(2 px, one module).
bool onTheSymbol(const idut::Symbol& s, const scene::SymbolTruth& t) {
  for (const scene::Point& c : t.outline()) {
    bool near = false;
    for (const idut::Point& p : s.corners.points) near |= std::hypot(p.x - c.x, p.y - c.y) <= std::max(2.0, t.moduleSize);
    if (!near) return false;
  }
  return true;
}

// Reads the scene; counts a read when one symbol carries the text, a wrong one when any decoded
// symbol carries another.
void readInto(const scene::Scene& sc, const std::string& text, Tally* t) {
  idut::ReadOptions options;
  options.symbologies = {idut::Symbology::DataMatrix};
  const auto found = idut::readSymbols(idut::ImageView(sc.image.pixels.data(), sc.image.width, sc.image.height,
                                                       sc.image.width), options);
  ++t->total;
  bool ok = false;
  for (const idut::Symbol& s : found) {
    if (!s.decoded) continue;
    if (s.text != text) ++t->wrong;
    else if (!onTheSymbol(s, sc.symbols.at(0))) ++t->misplaced;
    else ok = true;
  }
  t->read += ok;
}

struct SizeCase {
  const char* name;
  int sizeOption;
  scene::DmSizes sizes;
};

const SizeCase kSizes[] = {
    {"10x10", 1, scene::DmSizes::squareOnly},       {"16x16", 4, scene::DmSizes::squareOnly},
    {"24x24", 8, scene::DmSizes::squareOnly},       {"40x40", 12, scene::DmSizes::squareOnly},
    {"12x36", 28, scene::DmSizes::withRectangular}, {"20x44", 41, scene::DmSizes::withRectangular},
};

// A symbol of the size's option holding fresh text drawn from rng; *text receives it.
scene::DmSymbol encodedOfSize(const SizeCase& size, scene::Random& rng, std::string* text) {
  *text = scene::fillText(size.sizeOption, size.sizes, rng);
  scene::DmContent content;
  content.data = *text;
  content.sizeOption = size.sizeOption;
  content.sizes = size.sizes;
  return scene::encodeDataMatrix(content);
}

// Every size, module size, turn and mirror for one quiet zone and polarity; tilt in degrees, blur
// in modules.
Tally frameFillingTally(int quietZone, Polarity polarity, double tilt, double blur, std::vector<double> modules) {
  Tally t;
  scene::Random rng(quietZone * 7 + static_cast<int>(polarity) * 3 + 11);
  for (const SizeCase& size : kSizes)
    for (double module : modules)
      for (int turns = 0; turns < 4; ++turns)
        for (bool mirrored : {false, true}) {
          std::string text;
          const scene::DmSymbol symbol = encodedOfSize(size, rng, &text);
          const scene::FrameFill f{.moduleSize = module, .quietZone = quietZone, .polarity = polarity, .quarterTurns = turns,
                                   .tiltDeg = tilt, .mirrored = mirrored, .blurSigma = blur * module, .seed = rng.bits()};
          readInto(scene::frameFilling(symbol, f), text, &t);
        }
  return t;
}

TEST(FrameFilling, ReadsSymbolsWithoutQuietZoneInBothPolarities) {
  struct Row {
    int quietZone;
    Polarity polarity;
    double tilt, blur;
    double module;  // pixels, or 0 for modules of 2, 3 and 4
    double minRate;
  };
  // Modules of 2 to 4 pixels, sharp and square to the picture: nearly every one. Tilted with no
  // quiet zone, the picture's edges cut through the symbol's corners, and two neighbouring sides
  // showing mostly one class may be its L or the background round it: the road tries both
  // frames and reads three in four (two thirds with the L's alone). Blurred modules of 2 pixels
  // pass for noise, and the smoothing meant for noise blurs them away: searched again unsmoothed,
  // four in five read (two in five without). Modules of 1.5 pixels are lost to the driver's edge
  // filters, which span six pixels: the picture is searched twice as large (half read without).
  const Row rows[] = {
      {0, Polarity::darkOnLight, 0, 0, 0, 0.9},    {0, Polarity::lightOnDark, 0, 0, 0, 0.9},
      {1, Polarity::darkOnLight, 0, 0, 0, 0.9},    {1, Polarity::lightOnDark, 0, 0, 0, 0.9},
      {0, Polarity::darkOnLight, 4, 0.3, 0, 0.75}, {0, Polarity::lightOnDark, 4, 0.3, 0, 0.75},
      {1, Polarity::darkOnLight, 7, 0.3, 0, 0.8},  {1, Polarity::lightOnDark, 7, 0.3, 0, 0.8},
      {0, Polarity::darkOnLight, 0, 0.3, 2, 0.75}, {0, Polarity::lightOnDark, 0, 0.3, 2, 0.75},
      {0, Polarity::darkOnLight, 0, 0, 1.5, 0.9},  {1, Polarity::lightOnDark, 0, 0, 1.5, 0.9},
  };
  std::printf("quiet zone  polarity     tilt  blur  modules  read\n");
  for (const Row& r : rows) {
    const std::vector<double> modules = r.module > 0 ? std::vector<double>{r.module} : std::vector<double>{2, 3, 4};
    const Tally t = frameFillingTally(r.quietZone, r.polarity, r.tilt, r.blur, modules);
    std::printf("%10d  %-11s %5.0f %5.1f  %7s  %d/%d\n", r.quietZone,
                r.polarity == Polarity::darkOnLight ? "dark/light" : "light/dark", r.tilt, r.blur,
                r.module > 0 ? std::to_string(r.module).substr(0, 3).c_str() : "2-4", t.read, t.total);
    EXPECT_GE(t.rate(), r.minRate) << "quiet zone " << r.quietZone << " tilt " << r.tilt;
    EXPECT_EQ(t.wrong, 0);
  }
}

// Frame-filling pictures as a camera gives them: any of the sizes, modules of 2 to 4 pixels, no
// quiet zone or one module of it, either polarity, any quarter turn, tilted or mirrored now and
// then, some blur and noise. Such modules put an edge beside nearly every pixel, which must not
// be taken for noise; and whatever is read lies on the symbol's corners, a side along the
// picture's edge having no background beyond it to be measured against.
TEST(FrameFilling, ReadSymbolsKeepTheirCornersOnThePictureEdge) {
  scene::Random rng(23);
  Tally t;
  for (int i = 0; i < 240; ++i) {
    const SizeCase& size = kSizes[rng.uniformInt(0, static_cast<int>(std::size(kSizes)) - 1)];
    std::string text;
    const scene::DmSymbol symbol = encodedOfSize(size, rng, &text);
    scene::FrameFill f;
    f.moduleSize = rng.uniform(2, 4);
    f.quietZone = i % 2;
    f.polarity = i / 2 % 2 ? Polarity::lightOnDark : Polarity::darkOnLight;
    f.quarterTurns = rng.uniformInt(0, 3);
    f.tiltDeg = rng.chance(0.5) ? rng.uniform(-4, 4) : 0;
    f.mirrored = rng.chance(0.25);
    f.blurSigma = rng.uniform(0, 0.3) * f.moduleSize;
    f.noiseSigma = rng.uniform(0, 4);
    f.seed = rng.bits();
    readInto(scene::frameFilling(symbol, f), text, &t);
  }
  std::printf("read %d/%d, misplaced %d\n", t.read, t.total, t.misplaced);
  EXPECT_GE(t.rate(), 0.94);
  EXPECT_EQ(t.wrong, 0);
  EXPECT_EQ(t.misplaced, 0);
}

// The frame's level on each side for the edges it meets, and the framed copy built from it.
TEST(FrameFilling, FrameLevelsFollowWhatThePictureEdgeShows) {
  struct Case {
    const char* name;
    Polarity polarity;
    int quietZone;
    double tiltDeg;
    int expected;  // every side's level: > 128 light, < 128 dark, or kContinue
    bool rectangle = false;  // 12 x 36 of 4-pixel modules blurred by 1.2, rather than 16 x 16 of 3 sharp ones
  };
  // Without a quiet zone the frame is the symbol's background; a plain margin is continued at
  // its own level (no contrast along the edges); so is the background round a symbol tilted into
  // the picture's corners, whose edges show little but that background, and round a rectangle
  // tilted so, one of whose short sides runs further along its edge.
  const Case cases[] = {{"dark symbol, no margin", Polarity::darkOnLight, 0, 0, 255},
                        {"light symbol, no margin", Polarity::lightOnDark, 0, 0, 0},
                        {"dark symbol, light margin", Polarity::darkOnLight, 1, 0, 255},
                        {"light symbol, dark margin", Polarity::lightOnDark, 1, 0, 0},
                        {"dark symbol tilted into the corners", Polarity::darkOnLight, 0, 6, 255},
                        {"light symbol tilted into the corners", Polarity::lightOnDark, 0, -6, 0},
                        {"dark rectangle tilted into the corners", Polarity::darkOnLight, 0, 4, 255, true},
                        {"light rectangle tilted into the corners", Polarity::lightOnDark, 0, -4, 0, true}};
  scene::Random rng(5);
  for (const Case& c : cases) {
    scene::DmContent content;
    content.sizeOption = c.rectangle ? 28 : 4;
    content.sizes = c.rectangle ? scene::DmSizes::withRectangular : scene::DmSizes::squareOnly;
    content.data = scene::fillText(content.sizeOption, content.sizes, rng);
    const scene::FrameFill fill{.moduleSize = c.rectangle ? 4.0 : 3.0, .quietZone = c.quietZone, .polarity = c.polarity,
                                .tiltDeg = c.tiltDeg, .blurSigma = c.rectangle ? 1.2 : 0.0};
    const scene::Scene sc = scene::frameFilling(scene::encodeDataMatrix(content), fill);
    const cimg_windowConst w{sc.image.width, sc.image.height, 0, 0, sc.image.width, sc.image.pixels.data()};
    const dmroad::FrameLevels levels = dmroad::frameLevels(w);
    for (int side = 0; side < 4; ++side) {
      ASSERT_NE(levels[side], dmroad::kContinue) << c.name;
      EXPECT_EQ(levels[side] > 128, c.expected > 128) << c.name << ", side " << side;
    }
  }
  // Synthetic edges: 40 x 30 pictures. A light margin with specks of ink on it gets more of it;
  // bars running off the top and bottom between a dark left edge and a light right one (a
  // photograph's edges) are continued; a flat picture keeps its level.
  std::vector<uint8_t> specks(40 * 30, 200), bars(40 * 30, 200), flat(40 * 30, 77);
  for (int x = 2; x < 40; x += 5) specks[x] = specks[29 * 40 + x] = 30;  // an eighth of every edge
  for (int y = 2; y < 30; y += 5) specks[y * 40] = specks[y * 40 + 39] = 30;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) bars[y * 40 + x] = (x < 30 && (x * 7 / 5) % 3 == 0) || x < 2 ? 30 : 200;
  struct Synthetic {
    const char* name;
    const std::vector<uint8_t>* pixels;
    int expected;
  };
  const Synthetic synthetic[] = {{"specks", &specks, 200}, {"bars", &bars, dmroad::kContinue}, {"flat", &flat, 77}};
  for (const Synthetic& c : synthetic) {
    const cimg_windowConst w{40, 30, 0, 0, 40, c.pixels->data()};
    const dmroad::FrameLevels levels = dmroad::frameLevels(w);
    for (int side = 0; side < 4; ++side) EXPECT_EQ(levels[side], c.expected) << c.name << ", side " << side;
    // The copy: the picture inside, the frame at its levels or continuing the edge pixels.
    constexpr int f = dmroad::kFrameWidth;
    std::vector<uint8_t> framed((40 + 2 * f) * (30 + 2 * f), 1);
    dmroad::framedCopy(w, levels, framed.data());
    auto at = [&](int x, int y) { return framed[(y + f) * (40 + 2 * f) + x + f]; };
    for (int y = -f; y < 30 + f; ++y)
      for (int x = -f; x < 40 + f; ++x) {
        const int cx = std::clamp(x, 0, 39), cy = std::clamp(y, 0, 29);
        const bool inside = x == cx && y == cy;
        const int side = y < 0 ? 1 : y >= 30 ? 3 : x < 0 ? 0 : 2;
        const int want = inside || levels[side] == dmroad::kContinue ? (*c.pixels)[cy * 40 + cx] : levels[side];
        ASSERT_EQ(at(x, y), want) << c.name << " at " << x << ", " << y;
      }
  }
}

// A symbol a degree or so off square to its picture, no quiet zone: the picture's edges run off
// its L and its alternating sides into the background along part of their length, so no side is
// clear, but the L's two sides still differ from the others. Both readings of that L are offered,
// and one of them frames the symbol in its background.
TEST(FrameFilling, AFaintLIsReadBothWays) {
  struct Case {
    int sizeOption;
    double module, tilt, blur, noise;
    Polarity polarity;
  };
  const Case cases[] = {{41, 3.26, 0.3, 0.02, 3.5, Polarity::darkOnLight}, {4, 3, -1.2, 0.72, 1.5, Polarity::lightOnDark}};
  scene::Random rng(8);
  for (const Case& c : cases) {
    scene::DmContent content;
    content.sizeOption = c.sizeOption;
    content.sizes = c.sizeOption > 24 ? scene::DmSizes::withRectangular : scene::DmSizes::squareOnly;
    content.data = scene::fillText(content.sizeOption, content.sizes, rng);
    const scene::FrameFill fill{.moduleSize = c.module, .quietZone = 0, .polarity = c.polarity, .tiltDeg = c.tilt,
                                .blurSigma = c.blur, .noiseSigma = c.noise, .seed = 3};
    const scene::Scene sc = scene::frameFilling(scene::encodeDataMatrix(content), fill);
    const cimg_windowConst w{sc.image.width, sc.image.height, 0, 0, sc.image.width, sc.image.pixels.data()};
    bool ambiguous = false;
    const dmroad::FrameLevels first = dmroad::frameLevels(w, false, &ambiguous), other = dmroad::frameLevels(w, true);
    EXPECT_TRUE(ambiguous) << c.sizeOption;
    const bool lightBackground = c.polarity == Polarity::darkOnLight;
    EXPECT_TRUE((first[0] > 128) == lightBackground || (other[0] > 128) == lightBackground) << c.sizeOption;
    EXPECT_NE(first[0], other[0]) << c.sizeOption;
  }
}

// Symbols touching the picture's edge: found through the frame; the image alone shows the driver
// fewer of them (a solid side on the edge gives no seed and no closed outline).
TEST(FrameFilling, TheFrameFindsSymbolsOnThePictureEdge) {
  scene::Random rng(9);
  int withFrame = 0, withoutFrame = 0, total = 0;
  for (Polarity polarity : {Polarity::darkOnLight, Polarity::lightOnDark})
    for (int turns = 0; turns < 4; ++turns)
      for (double module : {2.0, 3.0, 5.0}) {
        scene::DmContent content;
        content.data = scene::fillText(6, scene::DmSizes::squareOnly, rng);
        content.sizeOption = 6;
        const scene::Scene sc = scene::frameFilling(scene::encodeDataMatrix(content),
                                                    {.moduleSize = module, .polarity = polarity, .quarterTurns = turns});
        const scene::ImageView view(sc.image);
        for (bool frame : {true, false}) {
          dmroad::Options o;
          o.frame = frame;
          const dmroad::Outcome out = dmroad::findAll(*view, o);
          ASSERT_EQ(out.status, 0);
          (frame ? withFrame : withoutFrame) += out.symbols.size() == 1;
        }
        ++total;
      }
  std::printf("symbols on the edge found: %d/%d with the frame, %d/%d without\n", withFrame, total, withoutFrame,
              total);
  EXPECT_EQ(withFrame, total);
  EXPECT_LT(withoutFrame, total / 2);
}

}  // namespace
