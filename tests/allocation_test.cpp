// Every call that allocates, with each of its allocations failing in turn: the failure status
// comes back, nothing leaks, and the caller's records are left empty. Whole roads are swept as
// well as constructors, so every allocation point beneath them is reached; the whole reader,
// every road with its decoders, is swept through the front door, its own allocations
// (operator new) as well as the library's. Each sweep prints how many points it walked, how
// many failed the call and how many the call went on without.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "base/cbt.h"
#include "base/cip_affine.h"
#include "ci_id/binarize.h"
#include "ci_id/contourruns.h"
#include "ci_id/correlate.h"
#include "ci_id/edge.h"
#include "ci_id/edgedetectid.h"
#include "ci_id/mask.h"
#include "ci_id/morph.h"
#include "ci_id/pdpdriver.h"
#include "ci_id/pdpsearch.h"
#include "ci_id/pixelops.h"
#include "ci_id/scanwalk.h"
#include "ci_id/threshold.h"
#include "ci_id/spectra.h"
#include "idut/read.hpp"
#include "reader/datamatrix/dmroad.hpp"
#include "reader/oned/road1d.hpp"
#include "support/assert_recorder.hpp"
#include "support/new_hook.hpp"
#include "scenes/scene.hpp"
#include "scenes/scene_1d.hpp"
#include "scenes/scene_dm.hpp"
#include "scenes/scene_pdf.hpp"

namespace {

struct Sweep {
  std::string name;
  std::function<csys_status()> attempt;
  uint64_t minimumPoints;  // allocation points the call is known to have, at least
};

// A small scene with one real symbol, shared by the road sweeps.
const scene::GreyImage& symbolScene() {
  static const scene::GreyImage image =
      scene::render({.width = 120, .height = 100, .symbols = {scene::encodeDataMatrix("sweep")},
                     .placements = {{.centre = {60, 50}, .moduleSize = 4, .angleDeg = 15}}}).image;
  return image;
}

csys_status runRoad(bool adaptive) {
  scene::ImageView view(symbolScene());
  dmroad::Options options;
  options.adaptive = adaptive;
  const dmroad::Outcome outcome = dmroad::findAll(*view, options);
  // A failure may stop the road at any point, but what it did report is whole.
  for (const dmroad::Symbol& s : outcome.symbols)
    if (s.corners[0].x == 0 && s.corners[0].y == 0 && s.corners[2].x == 0) return csys_errAssertion;
  if (outcome.status == 0 && outcome.symbols.size() != 1) return csys_errAssertion;
  return outcome.status;
}

// Running extrema along a line of 300 samples, on the fast or the generic path.
csys_status runExtrema(bool generic) {
  std::vector<uint8_t> line(300), out(300, 7);
  for (size_t i = 0; i < line.size(); ++i) line[i] = static_cast<uint8_t>(i * 37);
  uint32_t steps = 0;
  const csys_status st = rowExtremaMax(15, line.data(), out.data(), 300, generic ? &steps : nullptr);
  return st != 0 && out != std::vector<uint8_t>(300, 7) ? csys_errAssertion : st;
}

csys_status runCorrelation() {
  std::vector<uint8_t> signal(200);
  for (size_t i = 0; i < signal.size(); ++i) signal[i] = static_cast<uint8_t>((i * i) % 251);
  double offset = 5, score = 5;
  const csys_status st = cf_RunCorrelate_U8(signal.data() + 60, 40, signal.data(), 200, 0, &offset, &score);
  return st != 0 && (offset != 0 || score != 0) ? csys_errAssertion : st;
}

// A mask over the scene's image with two claims, one released.
csys_status runMask() {
  scene::ImageView view(symbolScene());
  cid_mask mask;
  csys_status st = cid_mask_construct(&mask, view.get());
  if (st != 0) return st;
  const cmath_shapeAffineRectCenter claims[2] = {{{40, 40}, 30, 20, 0.3, 0.3}, {{80, 60}, 10, 10, 0, 0}};
  for (const auto& c : claims) {
    cid_region r;
    cid_region_initAffineRectCenter(&r, &c, nullptr);
    if (st == 0) st = cid_mask_appendRegion(&mask, &r, 1.0);
  }
  if (st == 0) st = cid_mask_removeRegion(&mask, 0, 1.0);
  const csys_status released = cid_mask_destruct(&mask);
  return st != 0 ? st : released;
}

// The PDF417 path driver along the middle row of a PDF417 symbol, its edges where the row
// crosses the mid grey: the searches from the seeds of its patterns grow the tracker's buffer.
csys_status runPdf417() {
  static const scene::GreyImage grey =
      scene::render({.width = 200, .height = 100, .symbols = {scene::encodePdf417("sweep", {2, 1, 3})},
                     .placements = {{.centre = {100, 50}, .moduleSize = 1.5}}}).image;
  scene::ImageView view(grey);
  std::vector<int32_t> scratch(CID2D_SCRATCH_MIN_SIZE / 4);
  cid2d_trackingParams params;
  cid2d_trackingParams_init(&params);
  params.scratch = reinterpret_cast<uint8_t*>(scratch.data());
  params.scratchSize = CID2D_SCRATCH_MIN_SIZE;
  std::vector<cmath_vect> path;
  std::vector<uint8_t> profile;
  std::vector<int16_t> edges;
  for (int x = 0; x < grey.width; ++x) {
    path.push_back({double(x), 50.0});
    profile.push_back(grey.at(x, 50));
    if (x > 0 && (profile[x - 1] < 128) != (profile[x] < 128))
      edges.push_back(int16_t(profile[x] >= 128 ? x - 1 : 1 - x));
  }
  cimg_image marking;
  csys_status st = cimg_image_construct(&marking, 50, 25);
  if (st != 0) return st;
  cid2d_trackingResult result;
  st = cid2d_trackingResult_construct(&result);
  if (st == 0) {
    result.trackerRuns = 0;
    st = cf_BndFindMatchingPDP(view.get(), &params, nullptr, nullptr, nullptr, &marking, 1, edges.data(),
                                 int32_t(edges.size()), grey.width, 0, path.data(), profile.data(), &result);
    if (st == 0 && result.trackerRuns == 0) st = csys_errAssertion;
    cid2d_trackingResult_destruct(&result);
  }
  cimg_image_destruct(&marking);
  return st;
}

// The 1D road on a clean Code 128 scene: its library calls (the single-symbol finder at the
// image centre) fail in turn; when none does it reads the one barcode.
csys_status runRoad1d() {
  static const scene::Scene1d s = scene::generate1d(scene::Barcode1d::code128, scene::Condition1d::clean, 3);
  scene::ImageView view(s.scene.image);
  const road1d::Outcome outcome = road1d::findAll(*view);
  // What a failing road read before the failure is kept, and must be right.
  for (const road1d::Symbol& found : outcome.symbols)
    if (found.text != s.barcode.text) return csys_errAssertion;
  if (outcome.status != 0) return outcome.status;
  return outcome.symbols.size() == 1 ? 0 : csys_errAssertion;
}

// A call on the symbol scene into up to three unbound images and a count: on failure the
// images must still be unbound and the count unwritten.
std::function<csys_status()> intoNewImages(std::function<csys_status(const cimg_imageConst*, cimg_image*, uint32_t*)> call,
                                           bool generic = false) {
  return [call, generic] {
    scene::ImageView view(symbolScene());
    cimg_image im[3];
    for (cimg_image& i : im) cimg_image_constructUnbound(&i);
    uint32_t count = 7;
    cprt_optimizationInhibitedFn inhibit = [](const char* name) { return int(std::string(name) == "cip_truepeak8"); };
    cprt_isOptimizationInhibitedFP = generic ? inhibit : nullptr;
    const csys_status st = call(view.get(), im, &count);
    cprt_isOptimizationInhibitedFP = nullptr;
    const bool touched = count != 7 || cimg_image_isBound(&im[0]) || cimg_image_isBound(&im[1]) || cimg_image_isBound(&im[2]);
    for (cimg_image& i : im) cimg_image_destruct(&i);
    return CSYS_FAILED(st) && touched ? csys_errAssertion : st;
  };
}

// A slanted edge scan across the scene (it finds edges): on failure the caller's peaks and
// segment stay as they were.
csys_status slantedScan() {
  scene::ImageView view(symbolScene());
  cidc_windowROI roi;
  cidc_windowROI_initCorner(&roi, 120, 100, 0, 0, 1, 1);
  const cidc_vect64_4 ends[2] = {{16 * 5, 16 * 20}, {16 * 115, 16 * 80}};
  cidc_scanLineSeg seg, out, before;
  cidc_scanShape shape;
  cidc_scanLineSeg_initPoints(&seg, ends, nullptr);
  cidc_scanShape_initScanLineSeg(&shape, &seg);
  std::memset(&out, 0x5A, sizeof out);
  before = out;
  cstd_vector_cidc_peakIDFixedX_4 peaks;
  cstd_vector_cidc_peakIDFixedX_4_constructEmpty(&peaks);
  const cidc_edgeScanParams params{200};
  const int16_t g[2] = {25, 14};
  csys_status st = cidc_runEdgeScan(view.get(), &roi, &params, &shape, g, &peaks, &out);
  const uint32_t n = peaks.base.size;
  if (CSYS_FAILED(st) ? n != 0 || std::memcmp(&out, &before, sizeof out) != 0 : n == 0) st = csys_errAssertion;
  cstd_vector_cidc_peakIDFixedX_4_destruct(&peaks);
  return st;
}

// The spectral routines on a small window; the first failing call must leave its image unbound.
csys_status runSpectra() {
  static const std::vector<uint8_t> pixels(16 * 8, 77);
  cimg_imageConst source;
  cimg_imageConst_constructWrap(&source, pixels.data(), 16, 8, 16);
  cimg_imageDouble d[5];  // 2D, rows, spectrum, power, shifted
  cimg_imageInt32 integer;
  cimg_image view;
  for (cimg_imageDouble& image : d) cimg_imageDouble_constructUnbound(&image);
  cimg_imageInt32_constructUnbound(&integer);
  cimg_image_constructUnbound(&view);
  std::vector<double> work(2 * 16 * 8), re(16);
  const std::pair<std::function<csys_status()>, std::function<bool()>> calls[] = {
      {[&] { return cfPelFFT(&source, &d[0], CIDUT_FFT_AMPLITUDE, CIDUT_FFT_2D); }, [&] { return cimg_imageDouble_isBound(&d[0]); }},
      {[&] { return cfPelFFT(&source, &d[1], CIDUT_FFT_COMPLEX, CIDUT_FFT_ROWS); }, [&] { return cimg_imageDouble_isBound(&d[1]); }},
      {[&] { return cfPelFFTBin(&source, &integer, CIDUT_FFT_POWER, CIDUT_FFT_2D); }, [&] { return cimg_imageInt32_isBound(&integer); }},
      {[&] { return cfPowerSpectrum(&source, &d[2]); }, [&] { return cimg_imageDouble_isBound(&d[2]); }},
      {[&] { return cfLimitedPelPowerSpectrum(&source, 2, 2, &d[2]); }, [] { return false; }},
      {[&] { return cfRowDFT(pixels.data(), re.data(), nullptr, 16); }, [] { return false; }},
      {[&] { return cidut_2dFFTPwrSpec_win8_(&source, work.data(), 256, &d[3]); }, [&] { return cimg_imageDouble_isBound(&d[3]); }},
      {[&] { return cfFFTShift(&d[2], &d[4]); }, [&] { return cimg_imageDouble_isBound(&d[4]); }},
      {[&] { return cfViewableFFT(&d[4], &view); }, [&] { return cimg_image_isBound(&view); }},
  };
  csys_status st = 0;
  for (const auto& [call, made] : calls)
    if ((st = call()) != 0) {
      if (made()) st = csys_errAssertion;
      break;
    }
  for (cimg_imageDouble& image : d) cimg_imageDouble_destruct(&image);
  cimg_imageInt32_destruct(&integer);
  cimg_image_destruct(&view);
  return st;
}

// One binarisation of the symbol scene; the destination may hold a partial result on failure
// (documented), but nothing leaks.
csys_status binarizeOnce(int method, int regionMode) {
  scene::ImageView view(symbolScene());
  cidut_binarizeParams p;
  cidut_binarizeParams_construct(&p);
  p.method = method;
  p.regionMode = regionMode;
  cmath_shapeAffineRectPoints pts{{30, 20}, {90, 25}, {28, 80}};
  cmath_shapeAffineRect_initPoints(&p.region, &pts);
  cimg_image out, mask;
  cimg_image_constructUnbound(&out);
  cimg_image_constructUnbound(&mask);
  const csys_status st = cidut_binarizeImage(&out, nullptr, nullptr, &mask, view.get(), &p);
  cimg_image_destruct(&out);
  cimg_image_destruct(&mask);
  return st;
}

std::vector<Sweep> sweeps() {
  return {
      {"boundary result",
       [] {
         cbt_result r;
         std::memset(&r, 0x5A, sizeof r);
         const csys_status st = cbt_result_construct(&r, 500);
         if (st != 0) return r.points == nullptr && r.capacity == 0 ? st : csys_errAssertion;
         return cbt_result_destruct(&r);
       },
       1},
      {"Data Matrix road", [] { return runRoad(false); }, 3},
      {"binarize tiles, region", [] { return binarizeOnce(3, 1); }, 3},
      {"binarize local contrast", [] { return binarizeOnce(4, 2); }, 8},
      {"binarize sliding mean", [] { return binarizeOnce(5, 2); }, 2},
      {"gaussian front", intoNewImages([](auto* v, auto* im, auto*) { return cidut_ip_gauss8(v, im, 3, 2); }), 2},
      {"low-pass front", intoNewImages([](auto* v, auto* im, auto*) { return cidut_ip_plpf8(v, im, 0.5f, 2, 2, 0); }), 2},
      {"affine resampling",
       intoNewImages([](auto* v, auto* im, auto*) {
         cmath_shapeAffineRect r;
         cmath_shapeAffineRectPoints pts{{10, 10}, {70, 20}, {5, 60}};
         cmath_shapeAffineRect_initPoints(&r, &pts);
         return cip_affine8(v, &r, 0, 0, im);
       }),
       1},
      {"pixel transpose", intoNewImages([](auto* v, auto* im, auto*) { return cidut_ip_pelTranspose8(v, im); }), 1},
      {"adaptive Data Matrix road", [] { return runRoad(true); }, 3},
      {"spectra", [] { return runSpectra(); }, 16},
      {"running extrema, fast", [] { return runExtrema(false); }, 1},
      {"running extrema, generic", [] { return runExtrema(true); }, 1},
      {"grey closing", intoNewImages([](auto* v, auto* im, auto*) { return cidut_morph2d_run(v, im, CIDUT_MORPH_CLOSE, 9, 5); }), 3},
      {"running correlation", runCorrelation, 1},
      {"mask with an image", runMask, 2},
      {"PDF417 path driver and search", runPdf417, 3},
      {"1D road", runRoad1d, 13},
      {"hysteresis threshold",
       intoNewImages([](auto* v, auto* im, auto* n) { return cip_edge_hysteresisThreshold(v, im, 60, 150, n, -1, 0, 255, 1); }), 3},
      {"true peaks, fast path", intoNewImages([](auto* v, auto* im, auto* n) { return cip_truepeak8(v, im, 10, n); }), 21},
      {"true peaks, generic path", intoNewImages([](auto* v, auto* im, auto* n) { return cip_truepeak8(v, im, 10, n); }, true), 2},
      {"edgelet peak and sign images",
       intoNewImages([](auto* v, auto* im, auto*) { return cf_GetTrueEdgePeakXYFromEdgelets(v, im, im + 1, im + 2, 12); }), 24},
      {"ID edge detector images", intoNewImages([](auto* v, auto* im, auto*) { return cfEdgeDetectIDMagAng(v, im, im + 1, 1, 20, 3); }), 2},
      {"sharpness",
       intoNewImages([](auto* v, auto*, auto* n) {
         double sharpness = -1;
         const csys_status st = cidut_getImageSharpnessFromSymbolRegion_(v, 0, &sharpness);
         *n = CSYS_FAILED(st) && sharpness != -1 ? 0 : *n;  // written on failure: reported as touched
         return st;
       }),
       4},
      {"edge points and chains",
       [] {
         scene::ImageView view(symbolScene());
         const cip_edgeParams params{1.0, 12.0, 0.0};
         csEdgeList* list = nullptr;
         csEdgeChains* chains = nullptr;
         const csys_status st = cip_edge_detectEdgesChains(view.get(), &params, &list, &chains);
         const bool written = list != nullptr || chains != nullptr;
         csEdgeChainsDelete(&chains);
         csEdgeListDelete(&list);
         return CSYS_FAILED(st) == written ? csys_errAssertion : st;
       },
       2},
      {"edge-code table",
       [] {
         cstd_vector8 table;
         cstd_vector8_constructEmpty(&table);
         csys_status st = cf_EdgeDetectIDTableInit(&table, 20);
         if (table.base.size != (CSYS_FAILED(st) ? 0u : CF_EDGEDETECTID_CODE_TABLE_SIZE)) st = csys_errAssertion;
         cstd_vector8_destruct(&table);
         return st;
       },
       1},
      {"dark and light means",
       [] {
         std::vector<uint32_t> hist(256, 3);
         double out[4] = {-1, -1, -1, -1};
         const csys_status st = cidut_getDarkLightMeanPercent_(hist.data(), 256, 10, 10, out, out + 1, out + 2, out + 3);
         return CSYS_FAILED(st) && out[0] + out[1] + out[2] + out[3] != -4 ? csys_errAssertion : st;
       },
       1},
      {"slanted edge scan", slantedScan, 1},
  };
}

void printCounts(const std::string& name, const char* kind, const SweepCounts& c) {
  std::printf("%-32s %-10s %6llu points: %6llu failed the call, %4llu gone on without\n", name.c_str(), kind,
              static_cast<unsigned long long>(c.points), static_cast<unsigned long long>(c.failed),
              static_cast<unsigned long long>(c.tolerated));
}

TEST(AllocationFailures, EveryAllocationPointFailsCleanly) {
  ASSERT_EQ(cfEdgeDetectID_install(), 0);  // the shared gradient tables stay until shutdown
  for (const Sweep& sweep : sweeps()) {
    SweepCounts counts;
    const uint64_t points = sweepAllocationFailures(sweep.attempt, 10000, &counts);
    EXPECT_GE(points, sweep.minimumPoints) << sweep.name << ": a run failed otherwise, or leaked";
    printCounts(sweep.name, "library", counts);
  }
}

// ---- the whole reader through the front door

// One read of a scene as a caller makes it, with the symbols a clean read gives.
struct FrontRead {
  std::string name;
  scene::GreyImage image;
  idut::ReadOptions options;
  std::vector<std::string> texts;  // of a clean read, in order
};

std::vector<FrontRead> frontReads() {
  std::vector<FrontRead> reads;
  auto add = [&](std::string name, scene::GreyImage image, idut::ReadOptions options) {
    const std::vector<idut::Symbol> clean =
        idut::readSymbols(idut::ImageView(image.pixels.data(), image.width, image.height, image.width), options);
    std::vector<std::string> texts;
    for (const idut::Symbol& s : clean) texts.push_back(s.decoded ? s.text : "(located)");
    reads.push_back({std::move(name), std::move(image), options, std::move(texts)});
  };
  idut::ReadOptions dm;
  dm.symbologies = {idut::Symbology::DataMatrix};
  add("Data Matrix, plain", symbolScene(), dm);
  dm.adaptive = true;
  add("Data Matrix, adaptive", symbolScene(), dm);
  dm.adaptive = false;
  dm.longRectangles = true;
  add("Data Matrix, long rectangles",
      scene::render({.width = 240, .height = 90,
                     .symbols = {scene::encodeDataMatrix("long", 31, scene::DmSizes::withRectangular)},
                     .placements = {{.centre = {120, 45}, .moduleSize = 3, .angleDeg = 3, .quietZone = 2}}})
          .image,
      dm);
  // Modules of 1.5 pixels filling a small picture: read only in its copy twice as large.
  dm.longRectangles = false;
  add("Data Matrix, enlarged",
      scene::frameFilling(scene::encodeDataMatrix("small"), {.moduleSize = 1.5, .quietZone = 1}).image, dm);
  idut::ReadOptions pdf;
  pdf.symbologies = {idut::Symbology::PDF417};
  add("PDF417",
      scene::render({.width = 200, .height = 100, .symbols = {scene::encodePdf417("sweep", {2, 1, 3})},
                     .placements = {{.centre = {100, 50}, .moduleSize = 1.5}}})
          .image,
      pdf);
  idut::ReadOptions oned;
  oned.symbologies = idut::Symbologies::fromMask(idut::Symbologies::all().mask() & ~0x3u);
  add("1D", scene::generate1d(scene::Barcode1d::code128, scene::Condition1d::clean, 3).scene.image, oned);
  return reads;
}

// A read with one allocation failing: the library's failure status, or success; what it
// reports is right either way (a success gives every symbol of the clean read).
csys_status readOnce(const FrontRead& r) {
  const idut::ImageView view(r.image.pixels.data(), r.image.width, r.image.height, r.image.width);
  auto textOf = [](const idut::Symbol& s) { return s.decoded ? s.text : std::string("(located)"); };
  auto known = [&](const idut::Symbol& s) { return std::find(r.texts.begin(), r.texts.end(), textOf(s)) != r.texts.end(); };
  try {
    const std::vector<idut::Symbol> found = idut::readSymbols(view, r.options);
    newhook::stopCountdown();  // the checks below are not swept
    std::vector<std::string> texts;
    for (const idut::Symbol& s : found) texts.push_back(textOf(s));
    return texts == r.texts ? 0 : csys_errAssertion;
  } catch (const idut::Error& e) {
    newhook::stopCountdown();
    for (const idut::Symbol& s : e.symbols())
      if (!known(s)) return csys_errAssertion;
    return e.status();
  } catch (...) {
    return csys_errAssertion;  // nothing but idut::Error leaves the front door
  }
}

// sweepAllocationFailures for the reader's own allocations (operator new).
SweepCounts sweepNewFailures(const std::function<csys_status()>& attempt, bool* clean) {
  SweepCounts tally;
  *clean = false;
  for (uint64_t n = 1; n <= 200000; ++n) {
    const int64_t live = newhook::liveBlocks(), liveCsys = csys_memory_getLiveBlockCount();
    csys_status status;
    bool fired;
    {
      newhook::FailNth fail(n);
      status = attempt();
      fired = newhook::fired();
    }
    if (newhook::liveBlocks() != live || csys_memory_getLiveBlockCount() != liveCsys) return tally;
    if (!fired) {
      tally.points = n - 1;
      *clean = status == 0;
      return tally;
    }
    if (status == 0)
      ++tally.tolerated;
    else if (status == csys_errNoMemory)
      ++tally.failed;
    else
      return tally;
  }
  return tally;
}

TEST(AllocationFailures, EveryRoadAndDecoderThroughTheFrontDoor) {
  for (const FrontRead& r : frontReads()) {
    ASSERT_FALSE(r.texts.empty()) << r.name << ": the clean read finds its symbol";
    ASSERT_EQ(readOnce(r), 0) << r.name;
    SweepCounts library;
    EXPECT_GT(sweepAllocationFailures([&] { return readOnce(r); }, 100000, &library), 0u)
        << r.name << ": a read failed otherwise, reported a wrong symbol, or leaked";
    printCounts(r.name, "library", library);
    bool clean = false;
    const SweepCounts reader = sweepNewFailures([&] { return readOnce(r); }, &clean);
    EXPECT_TRUE(clean && reader.points > 0)
        << r.name << ": a read failed otherwise, reported a wrong symbol, or leaked (operator new point "
        << reader.failed + reader.tolerated + 1 << ")";
    printCounts(r.name, "reader", reader);
  }
}

}  // namespace
