// idut-find end to end: the built program on its built-in sample, on PNG and JPEG scenes with
// known corners, on unreadable input, and with an overlay.
#include <gtest/gtest.h>
#include <unistd.h>

#include <sys/wait.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "imageio/imageio.hpp"
#include "scenes/scene.hpp"
#include "scenes/scene_1d.hpp"
#include "scenes/scene_pdf.hpp"
#include "support/fixtures.hpp"

namespace fs = std::filesystem;

namespace {

struct FindRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

// One directory per test process: ctest runs these tests in parallel, and a shared stderr file
// let one test read another's messages.
fs::path scratchDir() {
  const fs::path dir = fs::temp_directory_path() / ("idutfind_test_" + std::to_string(getpid()));
  fs::create_directories(dir);
  return dir;
}

FindRun runFind(const std::string& args) {
  const fs::path dir = scratchDir();
  const std::string errPath = (dir / "stderr.txt").string();
  const std::string command = std::string(IDUT_FIND_EXE) + " --no-progress " + args + " 2>" + errPath;
  FindRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  const int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  std::ifstream err(errPath);
  run.err.assign(std::istreambuf_iterator<char>(err), {});
  return run;
}

using Quad = std::array<scene::Point, 4>;

// The corners of every symbol in idut-find's JSON output, in outline order: the tool reports the
// origin, both side ends, then the opposite corner.
std::vector<Quad> jsonCorners(const std::string& json) {
  constexpr int kOutlineOrder[4] = {0, 1, 3, 2};
  std::vector<Quad> quads;
  const std::regex corners(R"re("corners":\[\[([-0-9.]+),([-0-9.]+)\],\[([-0-9.]+),([-0-9.]+)\],\[([-0-9.]+),([-0-9.]+)\],\[([-0-9.]+),([-0-9.]+)\]\])re");
  for (auto it = std::sregex_iterator(json.begin(), json.end(), corners); it != std::sregex_iterator(); ++it) {
    Quad q;
    for (int k = 0; k < 4; ++k) {
      const int m = kOutlineOrder[k];
      q[k] = {std::stod((*it)[1 + 2 * m]), std::stod((*it)[2 + 2 * m])};
    }
    quads.push_back(q);
  }
  return quads;
}

// Truths with a reported outline whose corners, either way round from any corner, lie within
// max(2 px, a module).
int countMatched(const std::vector<Quad>& found, const std::vector<scene::SymbolTruth>& truths) {
  int matched = 0;
  for (const auto& t : truths)
    for (const auto& f : found)
      if (worstCornerError(f, t.outline()) <= std::max(2.0, t.moduleSize)) {
        ++matched;
        break;
      }
  return matched;
}

scene::Scene cleanScene() {
  return scene::render({.width = 400, .height = 300, .symbols = {scene::encodeDataMatrix("end to end", 0)},
                        .placements = {{.centre = {210, 140}, .moduleSize = 7, .angleDeg = 25, .quietZone = 2}},
                        .blurSigma = 0.6, .noiseSigma = 2});
}

fs::path scratch(const std::string& name) { return scratchDir() / name; }

// The image written as a PNG in the scratch directory.
fs::path writeScratchPng(const std::string& name, const scene::GreyImage& image) {
  const fs::path path = scratch(name);
  std::string error;
  EXPECT_TRUE(imageio::writePng(path.string(), imageio::GreyImage{image.width, image.height, image.pixels}, &error))
      << error;
  return path;
}

}  // namespace

TEST(IdutFind, BuiltInSampleFindsItsThreeSymbols) {
  const FindRun run = runFind("--json");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const std::vector<Quad> quads = jsonCorners(run.out);
  EXPECT_EQ(quads.size(), 3u) << run.out;
  EXPECT_NE(run.out.find("\"symbology\":\"DataMatrix\""), std::string::npos);

  const FindRun text = runFind("");
  EXPECT_EQ(text.exitCode, 0);
  EXPECT_EQ(std::count(text.out.begin(), text.out.end(), '\n'), 3) << text.out;

  // The adaptive tracker's L, completed, lands on the same three symbols.
  const std::vector<Quad> adaptive = jsonCorners(runFind("--json --adaptive").out);
  ASSERT_EQ(adaptive.size(), 3u);
  for (size_t i = 0; i < 3; ++i)
    for (int k = 0; k < 4; ++k)
      EXPECT_NEAR(std::hypot(adaptive[i][k].x - quads[i][k].x, adaptive[i][k].y - quads[i][k].y), 0.0, 3.0);

  const FindRun version = runFind("--version");
  EXPECT_NE(version.out.find("libidut 0.1"), std::string::npos) << version.out;
}

// A crowded scene with an EAN-13, a Code 128 and a Data Matrix symbol: the 1D symbols come with
// their symbology names and texts, and --symbology picks among all families.
TEST(IdutFind, OneDimensionalSymbolsAndTheSymbologyChoice) {
  const scene::Scene1d s = scene::generate1d(scene::Barcode1d::ean13, scene::Condition1d::crowded, 3);
  ASSERT_EQ(s.others.size(), 1u);
  ASSERT_EQ(s.others[0].kind, scene::Barcode1d::code128);
  const fs::path png = writeScratchPng("oned.png", s.scene.image);
  const std::string ean = "\"symbology\":\"EAN-13\",", code128 = "\"symbology\":\"Code128\",";
  const std::string eanText = "\"text\":\"" + s.barcode.text + "\"", code128Text = "\"text\":\"" + s.others[0].text + "\"";
  const struct {
    const char* option;
    bool ean, code128;
  } cases[] = {{"", true, true}, {"--symbology ean13", true, false}, {"--symbology CODE128,upca", false, true},
               {"--symbology datamatrix", false, false}};
  for (const auto& c : cases) {
    const FindRun run = runFind(std::string("--json ") + c.option + " " + png.string());
    EXPECT_EQ(run.exitCode, 0) << c.option << ": " << run.err;
    auto has = [&](const std::string& s) { return run.out.find(s) != std::string::npos; };
    EXPECT_TRUE(has(ean) == c.ean && has(eanText) == c.ean && has(code128) == c.code128 && has(code128Text) == c.code128)
        << c.option << ": " << run.out;
  }
}

// A PDF417 symbol beside a Data Matrix one, in a JPEG (the other scenes are PNG): both found by
// default at their true corners, each under its own name, the image's size reported, and
// --symbology keeps to the families it names.
TEST(IdutFind, PdfAndDataMatrixAreFoundTogetherOrApart) {
  const scene::Scene s = scene::render(
      {.width = 760, .height = 480,
       .symbols = {scene::encodePdf417("idut-find end to end PDF417 0123456789", {2, 2, 4}), scene::encodeDataMatrix("end to end", 0)},
       .placements = {{.centre = {240, 240}, .moduleSize = 2.5, .angleDeg = 20, .quietZone = 2},
                      {.centre = {620, 240}, .moduleSize = 6, .angleDeg = -15, .quietZone = 2}},
       .blurSigma = 0.6, .noiseSigma = 2});
  const fs::path jpeg = scratch("pdf417.jpg");
  std::string error;
  ASSERT_TRUE(imageio::writeJpeg(jpeg.string(), {s.image.width, s.image.height, s.image.pixels}, 90, &error)) << error;
  const std::vector<scene::SymbolTruth> pdfTruth{s.symbols[0]}, dmTruth{s.symbols[1]};
  for (const auto& [option, pdfCount, dmCount] : {std::tuple{"", 1, 1}, {"--symbology pdf417", 1, 0},
                                                  {"--symbology datamatrix", 0, 1}, {"--symbology PDF417,datamatrix", 1, 1}}) {
    const FindRun run = runFind(std::string("--json ") + option + " " + jpeg.string());
    EXPECT_EQ(run.exitCode, 0) << option << run.err;
    EXPECT_NE(run.out.find("\"width\":760,\"height\":480"), std::string::npos) << run.out;
    const std::vector<Quad> quads = jsonCorners(run.out);
    EXPECT_EQ(quads.size(), static_cast<size_t>(pdfCount + dmCount)) << option << run.out;
    EXPECT_EQ(countMatched(quads, pdfTruth), pdfCount) << option << run.out;
    EXPECT_EQ(countMatched(quads, dmTruth), dmCount) << option << run.out;
    EXPECT_EQ(run.out.find("\"symbology\":\"PDF417\"") != std::string::npos, pdfCount == 1) << option;
  }
}

TEST(IdutFind, BadInputsAreReportedWithTheDocumentedExitCodes) {
  const fs::path empty = scratch("empty.png"), garbage = scratch("garbage.jpg"), truncated = scratch("truncated.png");
  std::ofstream(empty).close();
  std::ofstream(garbage) << "this is not an image at all";
  const fs::path good = writeScratchPng("good.png", cleanScene().image);
  {
    std::ifstream in(good, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    std::ofstream(truncated, std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  }
  for (const fs::path& bad : {empty, garbage, truncated, scratch("does_not_exist.png")}) {
    const FindRun run = runFind(bad.string());
    EXPECT_EQ(run.exitCode, 2) << bad;
    EXPECT_NE(run.err.find(bad.string()), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
  }
  // A good file next to a bad one is still processed.
  const FindRun mixed = runFind("--json " + garbage.string() + " " + good.string());
  EXPECT_EQ(mixed.exitCode, 2);
  EXPECT_EQ(jsonCorners(mixed.out).size(), 1u) << mixed.out;
  EXPECT_NE(mixed.out.find("\"error\""), std::string::npos);

  const fs::path noImages = scratch("no_images");
  fs::create_directories(noImages);
  std::ofstream(noImages / "notes.txt") << "text";
  const FindRun dir = runFind(noImages.string());
  EXPECT_EQ(dir.exitCode, 2);
  EXPECT_NE(dir.err.find("no images"), std::string::npos) << dir.err;

  const FindRun usage = runFind("--step 0");
  EXPECT_EQ(usage.exitCode, 64);
  EXPECT_NE(usage.err.find("--step"), std::string::npos);

  // An image without a symbol is read fine and reports nothing.
  const fs::path plain = scratch("plain.pgm");
  imageio::GreyImage flat{64, 48, std::vector<uint8_t>(64 * 48, 128)};
  std::string error;
  ASSERT_TRUE(imageio::writePgm(plain.string(), flat, &error));
  const FindRun nothing = runFind(plain.string());
  EXPECT_EQ(nothing.exitCode, 1);
  EXPECT_TRUE(nothing.out.empty());
}

TEST(IdutFind, OverlayHasTheInputsSizeAndDirectoriesAreWalkedInParallel) {
  const fs::path overlay = scratch("overlay.png");
  fs::remove(overlay);
  const FindRun run = runFind("--overlay " + overlay.string());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  imageio::GreyImage picture;
  std::string error;
  ASSERT_TRUE(imageio::readGrey(overlay.string(), &picture, &error)) << error;
  EXPECT_EQ(std::pair(picture.width, picture.height), std::pair(640, 400));

  const fs::path dir = scratch("walk");
  fs::remove_all(dir);
  fs::create_directories(dir / "nested");
  const scene::Scene s = cleanScene();
  for (const char* name : {"a.png", "nested/b.png", "nested/c.PNG"}) writeScratchPng("walk/" + std::string(name), s.image);
  const fs::path overlays = scratch("walk_overlays");
  fs::remove_all(overlays);
  const FindRun walk = runFind("-j 3 --json --overlay " + overlays.string() + " " + dir.string());
  EXPECT_EQ(walk.exitCode, 0) << walk.err;
  EXPECT_EQ(jsonCorners(walk.out).size(), 3u);
  // Output keeps the sorted input order whatever order the workers finish in.
  EXPECT_LT(walk.out.find("a.png"), walk.out.find("b.png"));
  EXPECT_LT(walk.out.find("b.png"), walk.out.find("c.PNG"));
  EXPECT_TRUE(fs::exists(overlays / "a.overlay.png") && fs::exists(overlays / "c.overlay.png"));
}
