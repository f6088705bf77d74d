// idut-find end to end: the built program on its built-in sample, on PNG and JPEG scenes with
// known corners, on unreadable input, and with an overlay.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/wait.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
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

// Runs a shell command; its standard output and exit status.
FindRun runShell(const std::string& command) {
  FindRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return run;
  char buffer[4096];
  for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) run.out.append(buffer, n);
  const int status = pclose(pipe);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

FindRun runFind(const std::string& args) {
  const std::string errPath = (scratchDir() / "stderr.txt").string();
  FindRun run = runShell(std::string(IDUT_FIND_EXE) + " --no-progress " + args + " 2>" + errPath);
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
  // A good file among bad ones: the batch of every kind of failure below.
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

namespace {

std::string shellQuote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Whether every line of the text is one JSON value, as Python's strict reader takes it (no NaN
// or Infinity, no raw control characters in strings).
bool everyLineIsJson(const std::string& text) {
  const fs::path path = scratchDir() / "lines.json";
  std::ofstream(path, std::ios::binary) << text;
  const std::string check = "python3 -c 'import json, sys\n"
                            "def no(c): raise ValueError(c)\n"
                            "[json.loads(l, parse_constant=no) for l in open(sys.argv[1], encoding=\"utf-8\")]' ";
  return runShell(check + path.string() + " 2>&1").exitCode == 0;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    lines.push_back(text.substr(at, end - at));
    at = end == std::string::npos ? text.size() : end + 1;
  }
  return lines;
}

fs::path writeFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

}  // namespace

// Every input gets its JSON line, in order, whatever went wrong with it or with the others, and
// the exit status says how far the worst one got; file names of any bytes stay recoverable in
// JSON and harmless on a terminal.
TEST(IdutFind, EveryInputGetsItsLineAndTheExitStatusSaysWhatFailed) {
  const fs::path dir = scratch("batch");
  fs::remove_all(dir);
  fs::create_directories(dir / "linked" / "deeper");
  const fs::path good = writeScratchPng("batch/good.png", cleanScene().image);
  const fs::path garbage = writeFile(dir / "garbage.png", "not an image");
  const fs::path fifo = dir / "fifo.png";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0644), 0);
  fs::copy_file(good, dir / "linked" / "deeper" / "a.png");
  fs::create_directories(dir / "walk");
  fs::create_directory_symlink(dir / "linked", dir / "walk" / "link");  // followed
  fs::create_directory_symlink(dir / "walk", dir / "walk" / "loop");    // entered once
  const std::string oddName = std::string("we\nird\x1b[31m\xff") + ".png";
  fs::copy_file(good, dir / oddName);
  const std::string found = R"("symbols":[{"symbology":"DataMatrix")";
  const struct {
    const char* name;
    std::string args;
    int exitCode;
    std::vector<std::string> lines;  // a part of each line, in order
  } cases[] = {
      {"unreadable inputs among good ones",
       (dir / "missing.png").string() + " " + garbage.string() + " " + fifo.string() + " /dev/zero " + good.string(), 2,
       {R"("error":{"status":"unreadable","message":")" + (dir / "missing.png").string() + ": no such file or directory\"}",
        garbage.string() + ": not a supported image format", fifo.string() + ": not a regular file",
        "/dev/zero: not a regular file", found}},
      {"links to directories followed, each directory once", (dir / "walk").string(), 0, {"link/deeper/a.png\",\"width\":400"}},
      {"an overlay that cannot be written", "--overlay /nonexistent-dir/x.png " + good.string(), 3,
       {R"("columns":14}],"error":{"status":"not_written","message":"/nonexistent-dir/x.png: cannot create)"}},
      {"a name of any bytes", shellQuote((dir / oddName).string()), 0, {R"(we\nird\u001b[31m\udcff.png","width":400)"}},
      {"a search cut short by --max-symbols", "-n 1 " + good.string(), 0,
       {R"(],"truncated":true,"truncated_reason":"maxSymbols (1) reached)"}},
  };
  for (const auto& c : cases) {
    const FindRun run = runFind("--json -j 2 " + c.args);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.name << ": " << run.err;
    const std::vector<std::string> lines = linesOf(run.out);
    ASSERT_EQ(lines.size(), c.lines.size()) << c.name << ": " << run.out;
    EXPECT_TRUE(everyLineIsJson(run.out)) << c.name << ": " << run.out;
    for (size_t k = 0; k < lines.size(); ++k) EXPECT_NE(lines[k].find(c.lines[k]), std::string::npos) << c.name << ": " << lines[k];
  }
  // On a terminal the name is escaped: no byte of it starts a line or an escape sequence, in the
  // results or in the messages.
  const FindRun text = runFind(shellQuote((dir / oddName).string()) + " " + shellQuote((dir / ("bad" + oddName)).string()));
  EXPECT_EQ(text.exitCode, 2);
  EXPECT_EQ(linesOf(text.out).size(), 1u) << text.out;
  EXPECT_NE(text.out.find(R"(we\nird\x1b[31m\xff.png: DataMatrix)"), std::string::npos) << text.out;
  EXPECT_EQ(linesOf(text.err).size(), 1u) << text.err;
  EXPECT_NE(text.err.find(R"(badwe\nird\x1b[31m\xff.png: no such file or directory)"), std::string::npos) << text.err;
  for (const std::string* stream : {&text.out, &text.err}) EXPECT_EQ(stream->find('\x1b'), std::string::npos);
}

// A directory the walk cannot read is an input that failed, not one skipped in silence (as
// another user: the superuser reads every directory).
TEST(IdutFind, AnUnreadableDirectoryIsReported) {
  const fs::path dir = scratch("closed");
  fs::remove_all(dir);
  fs::create_directories(dir / "shut");
  writeScratchPng("closed/open.png", cleanScene().image);
  writeScratchPng("closed/shut/inside.png", cleanScene().image);
  fs::permissions(scratchDir(), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
  fs::permissions(dir / "shut", fs::perms::owner_all);
  const std::string as = geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "";
  const FindRun run = runShell(as + IDUT_FIND_EXE + std::string(" --json --no-progress ") + dir.string() + " 2>/dev/null");
  fs::permissions(dir / "shut", fs::perms::owner_all);
  EXPECT_EQ(run.exitCode, 2) << run.out;
  const std::vector<std::string> lines = linesOf(run.out);
  ASSERT_EQ(lines.size(), 2u) << run.out;
  EXPECT_NE(lines[0].find("open.png\",\"width\""), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("shut: cannot read directory (Permission denied)"), std::string::npos) << lines[1];
}

// Under any address-space limit from too little to plenty, a batch still gives one valid JSON
// line per input, in order, and a documented exit status: what ran out of memory says so
// (reading or searching), nothing aborts, and the other inputs go on. Across the limits both
// failures are met, and with plenty of memory none.
TEST(IdutFind, MemoryLimitsNeverCostALine) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "the sanitizers reserve more address space than any limit leaves";
#endif
  const fs::path dir = scratch("limits");
  fs::remove_all(dir);
  fs::create_directories(dir);
  const scene::SceneSpec big{  // noisy: the searches work on smoothed copies
      .width = 3200, .height = 2400,
      .symbols = {scene::encodeDataMatrix("under a limit"), scene::encodePdf417("under a limit too", {3, 2, 3})},
      .placements = {{.centre = {800, 800}, .moduleSize = 6}, {.centre = {2200, 1600}, .moduleSize = 3}},
      .noiseSigma = 12};
  const fs::path files[] = {writeScratchPng("limits/big1.png", scene::render(big).image),
                            writeScratchPng("limits/small.png", cleanScene().image),
                            writeFile(dir / "garbage.png", "not an image"),
                            writeScratchPng("limits/big2.png", scene::render(big).image)};
  std::string batch;
  for (const fs::path& f : files) batch += " " + f.string();
  std::set<std::string> seen;  // how each input ended, over all limits
  for (int megabytes : {30, 50, 70, 90, 130, 200, 1000}) {
    const auto [code, out, err] = runShell("ulimit -v " + std::to_string(megabytes * 1024) + "; exec " + IDUT_FIND_EXE +
                                           " --json --no-progress -j 2" + batch + " 2>/dev/null");
    const std::vector<std::string> lines = linesOf(out);
    ASSERT_EQ(lines.size(), std::size(files)) << megabytes << " MB, exit " << code << ": " << out;
    EXPECT_TRUE(everyLineIsJson(out)) << megabytes << " MB: " << out;
    int worst = 0;  // the status the lines call for
    for (size_t k = 0; k < lines.size(); ++k) {
      const std::string& line = lines[k];
      EXPECT_EQ(line.find("{\"file\":\"" + files[k].string() + "\""), 0u) << megabytes << " MB: " << line;
      const bool read = line.find("\"width\":") != std::string::npos;
      const bool noMemory = line.find("\"status\":\"csys_errNoMemory\"") != std::string::npos;
      const bool error = line.find("\"error\":") != std::string::npos;
      seen.insert(!error ? "whole" : !noMemory ? "unreadable" : read ? "search out of memory" : "read out of memory");
      worst = std::max(worst, !error ? 0 : read ? 3 : 2);
    }
    EXPECT_EQ(code, worst == 0 ? 0 : worst) << megabytes << " MB: " << out;
    if (megabytes == 1000) {
      EXPECT_EQ(code, 2) << "with plenty of memory only the garbage fails: " << out;
    }
  }
  EXPECT_EQ(seen, (std::set<std::string>{"whole", "unreadable", "search out of memory", "read out of memory"}));
}
