// The front door, idut::readSymbols and idut_read_symbols: what it reads from the sample, how it
// refuses bad input (C++ and C alike), that nothing leaks on any failure, and the stop callback.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <set>

#include "idut/read.h"
#include "idut/read.hpp"
#include "imageio/imageio.hpp"
#include "scenes/scene.hpp"
#include "scenes/scene_1d.hpp"
#include "scenes/scene_pdf.hpp"
#include "support/assert_recorder.hpp"

namespace {

const imageio::GreyImage& sample() {
  static const imageio::GreyImage image = [] {
    imageio::GreyImage g;
    std::string error;
    if (!imageio::readGrey(IDUT_SAMPLE_PHOTO, &g, &error)) throw std::runtime_error(error);
    return g;
  }();
  return image;
}

idut::ImageView sampleView() { return idut::ImageView(sample().pixels.data(), sample().width, sample().height, sample().width); }

const std::vector<std::string> kSampleTexts = {"IDUT-42", "idut sample 1: 0123456789", "https://example.org/idut"};

// Twice the signed area of the polygon in its stored order.
double signedArea(const idut::Quad& q) {
  double a = 0;
  for (int k = 0; k < 4; ++k) {
    const idut::Point &p = q.points[k], &n = q.points[(k + 1) % 4];
    a += p.x * n.y - n.x * p.y;
  }
  return a;
}

TEST(FrontDoor, ReadsTheSampleWithNamedCornersInPolygonOrder) {
  const std::vector<idut::Symbol> symbols = idut::readSymbols(sampleView());
  ASSERT_EQ(symbols.size(), kSampleTexts.size());
  for (size_t i = 0; i < symbols.size(); ++i) {
    const idut::Symbol& s = symbols[i];
    EXPECT_EQ(std::tuple(s.symbology, s.decoded, s.text, std::string(s.bytes.begin(), s.bytes.end()), s.decodeError,
                         s.symbologyIdentifier, s.contentType, s.rows > 0),
              std::tuple(idut::Symbology::DataMatrix, true, kSampleTexts[i], kSampleTexts[i], "", "]d1", idut::ContentType::Text,
                         true))
        << i;
    // The outline in polygon order: every corner turns the same way, and the opposite corner is
    // the far end of both sides (xEnd - origin + yEnd - origin, up to perspective).
    const idut::Quad& q = s.corners;
    EXPECT_GT(std::fabs(signedArea(q)), 100.0);
    const double dx = q.xEnd().x + q.yEnd().x - q.origin().x - q.opposite().x;
    const double dy = q.xEnd().y + q.yEnd().y - q.origin().y - q.opposite().y;
    EXPECT_LT(std::hypot(dx, dy), 0.2 * std::hypot(q.xEnd().x - q.origin().x, q.xEnd().y - q.origin().y));
  }
}

TEST(FrontDoor, OptionsSelectAndLimit) {
  idut::ReadOptions options;
  options.symbologies = {idut::Symbology::Code128, idut::Symbology::PDF417};
  EXPECT_TRUE(idut::readSymbols(sampleView(), options).empty());
  options = {};
  options.maxSymbols = 2;
  EXPECT_EQ(idut::readSymbols(sampleView(), options).size(), 2u);
  options = {};
  options.decode = false;
  for (const idut::Symbol& s : idut::readSymbols(sampleView(), options)) {
    EXPECT_FALSE(s.decoded);
    EXPECT_TRUE(s.text.empty() && s.decodeError.empty());
  }
}

TEST(FrontDoor, SymbologyNamesRoundTrip) {
  for (int k = 0; k < idut::kSymbologyCount; ++k) {
    const auto s = static_cast<idut::Symbology>(k);
    EXPECT_EQ(idut::parseSymbology(idut::toString(s)), s) << k;
    EXPECT_EQ(idut::parseSymbology(idut::optionName(s)), s) << k;
    EXPECT_TRUE(idut::Symbologies::all().contains(s));
  }
  EXPECT_EQ(idut::parseSymbology("qr"), std::nullopt);
  EXPECT_EQ(idut::parseSymbology("Datamatrix"), idut::Symbology::DataMatrix);
  EXPECT_STREQ(idut::toString(static_cast<idut::Symbology>(99)), "");
  EXPECT_FALSE(idut::Symbologies::all().contains(static_cast<idut::Symbology>(40)));
}

struct BadCall {
  const char* name;
  idut::ImageView view;
  idut::ReadOptions options;
  const char* message;  // a part of the error's text
};

std::vector<BadCall> badCalls() {
  const idut::ImageView good = sampleView();
  auto with = [](auto change) {
    idut::ReadOptions o;
    change(o);
    return o;
  };
  return {
      {"null pixels", idut::ImageView(nullptr, 10, 10, 10), {}, "null pointer"},
      {"zero width", idut::ImageView(good.pixels, 0, 10, 10), {}, "0 x 10"},
      {"negative height", idut::ImageView(good.pixels, 10, -3, 10), {}, "10 x -3"},
      {"stride below width", idut::ImageView(good.pixels, 10, 10, 9), {}, "stride 9 is smaller than its width 10"},
      {"no symbology", good, with([](auto& o) { o.symbologies = {}; }), "no symbology"},
      {"unknown symbology", good, with([](auto& o) { o.symbologies = idut::Symbologies::fromMask(1u << 20); }),
       "unknown symbology"},
      {"unknown symbology value", good,
       with([](auto& o) { o.symbologies.insert(static_cast<idut::Symbology>(-1)); }), "unknown symbology"},
      {"minimum above maximum", good, with([](auto& o) { o.minSize = 90, o.maxSize = 50; }),
       "minSize 90 is larger than maxSize 50"},
      {"step 0", good, with([](auto& o) { o.step = 0; }), "step is 0"},
      {"modules 200", good, with([](auto& o) { o.modulesA = 200; }), "modulesA is 200"},
      {"negative limit", good, with([](auto& o) { o.maxSymbols = -1; }), "maxSymbols is -1"},
  };
}

TEST(FrontDoor, BadInputIsAClearErrorInCAndCpp) {
  const LiveBlocks blocks;
  for (const BadCall& bad : badCalls()) {
    try {
      idut::readSymbols(bad.view, bad.options);
      ADD_FAILURE() << bad.name << ": accepted";
    } catch (const idut::Error& e) {
      EXPECT_EQ(e.status(), static_cast<int32_t>(0x80000024)) << bad.name;
      EXPECT_STREQ(e.statusName(), "csys_errBadArgument") << bad.name;
      EXPECT_NE(std::string(e.what()).find(bad.message), std::string::npos) << bad.name << ": " << e.what();
    }
    // The same through C: a status, a list holding the message, nothing found.
    idut_read_options options;
    idut_read_options_init(&options);
    options.symbologies = bad.options.symbologies.mask();
    options.step = bad.options.step;
    options.min_size = bad.options.minSize;
    options.max_size = bad.options.maxSize;
    options.modules_a = bad.options.modulesA;
    options.max_symbols = bad.options.maxSymbols;
    idut_symbol_list* list = nullptr;
    EXPECT_EQ(idut_read_symbols(bad.view.pixels, bad.view.width, bad.view.height, bad.view.stride, &options, &list),
              IDUT_ERR_BAD_ARGUMENT)
        << bad.name;
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count, 0u);
    EXPECT_NE(std::string(list->error).find(bad.message), std::string::npos) << bad.name;
    idut_symbol_list_free(list);
  }
  idut_symbol_list* list = nullptr;
  EXPECT_EQ(idut_read_symbols(sample().pixels.data(), 10, 10, 10, nullptr, &list), IDUT_ERR_BAD_ARGUMENT);
  idut_symbol_list_free(list);
  EXPECT_EQ(idut_read_symbols(sample().pixels.data(), 10, 10, 10, nullptr, nullptr), IDUT_ERR_BAD_ARGUMENT);
  EXPECT_EQ(blocks.leaked(), 0);
}

TEST(FrontDoor, CReadsTheSample) {
  idut_read_options options;
  idut_read_options_init(&options);
  idut_symbol_list* list = nullptr;
  ASSERT_EQ(idut_read_symbols(sample().pixels.data(), sample().width, sample().height, sample().width, &options, &list), 0);
  ASSERT_EQ(list->count, kSampleTexts.size());
  const std::vector<idut::Symbol> cpp = idut::readSymbols(sampleView());
  for (size_t i = 0; i < list->count; ++i) {
    const idut_symbol& s = list->symbols[i];
    EXPECT_EQ(std::tuple(std::string(idut_symbology_name(s.symbology)), std::string(s.text, s.text_length),
                         std::string(s.decode_error), s.append_index),
              std::tuple("DataMatrix", kSampleTexts[i], "", -1));
    for (int k = 0; k < 4; ++k) EXPECT_TRUE(s.corners[k].x == cpp[i].corners.points[k].x && s.corners[k].y == cpp[i].corners.points[k].y);
  }
  EXPECT_STREQ(list->error, "");
  idut_symbol_list_free(list);
  idut_symbol_list_free(nullptr);
}

// Every allocation of a whole read failing in turn: the failure is csys_errNoMemory, what was
// found before it is kept whole, and nothing leaks. A road may go on without an allocation it
// can do without; the read must then be whole. The sweep ends after 30 whole reads in a row.
TEST(FrontDoor, EveryAllocationFailureIsReportedAndNothingLeaks) {
  const std::vector<uint8_t> crop = [] {
    std::vector<uint8_t> c;
    for (int y = 60; y < 220; ++y)
      c.insert(c.end(), sample().pixels.begin() + y * sample().width + 70, sample().pixels.begin() + y * sample().width + 230);
    return c;
  }();
  const idut::ImageView view(crop.data(), 160, 160, 160);
  ASSERT_EQ(idut::readSymbols(view).size(), 1u);
  int failures = 0, wholeInARow = 0;
  for (uint64_t n = 1; wholeInARow < 30; ++n) {
    const LiveBlocks blocks;
    bool failed = false;
    {
      const FailAllocation fail(n);
      try {
        const std::vector<idut::Symbol> whole = idut::readSymbols(view);
        ASSERT_EQ(whole.size(), 1u) << n;
        EXPECT_EQ(whole[0].text, kSampleTexts[1]) << n;
      } catch (const idut::Error& e) {
        failed = true;
        EXPECT_EQ(e.status(), static_cast<int32_t>(0x80000023)) << n;
        for (const idut::Symbol& s : e.symbols()) EXPECT_EQ(s.text, kSampleTexts[1]) << n;
      }
    }
    EXPECT_EQ(blocks.leaked(), 0) << n;
    wholeInARow = failed ? 0 : wholeInARow + 1;
    failures += failed;
  }
  // The roads' own images, markings and masks: a dozen library allocations on this crop (the
  // reader's own allocations are swept by the allocation tests).
  EXPECT_GE(failures, 10);
}

TEST(FrontDoor, StopCallbacksEndTheSearch) {
  idut::ReadOptions options;
  int polls = 0;
  options.stop = [&polls] { return ++polls > 0; };
  try {
    idut::readSymbols(sampleView(), options);
    ADD_FAILURE() << "not stopped";
  } catch (const idut::Error& e) {
    EXPECT_EQ(e.status(), static_cast<int32_t>(0x80000030));
  }
  EXPECT_GE(polls, 1);
  options.stop = [] () -> bool { throw std::logic_error("from the callback"); };
  EXPECT_THROW(idut::readSymbols(sampleView(), options), std::logic_error);
  options.stop = [] { return false; };
  EXPECT_EQ(idut::readSymbols(sampleView(), options).size(), kSampleTexts.size());
  // Without a callback nothing is stopped, not even right after a stopped search.
  EXPECT_EQ(idut::readSymbols(sampleView()).size(), kSampleTexts.size());
  // A callback may search another image (here a blank one of the same size) on the same thread
  // while the first search waits on it: neither disturbs the other's copies of its image.
  const std::vector<uint8_t> blank(sample().pixels.size(), 255);
  int nested = 0, nestedFound = 0;
  options.stop = [&] {
    if (nested++ < 50)
      nestedFound += static_cast<int>(idut::readSymbols(idut::ImageView(blank.data(), sample().width, sample().height,
                                                                        sample().width)).size());
    return false;
  };
  std::vector<std::string> texts;
  for (const idut::Symbol& s : idut::readSymbols(sampleView(), options)) texts.push_back(s.text);
  std::vector<std::string> expected = kSampleTexts;
  std::sort(texts.begin(), texts.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(texts, expected);
  EXPECT_GE(nested, 1);
  EXPECT_EQ(nestedFound, 0);
}

// A sheet of many symbols of one kind in a grid, each with its text.
struct Sheet {
  const char* name;
  idut::Symbology symbology;
  scene::Scene scene;
  std::vector<std::string> texts;  // of scene.symbols, in order
};

Sheet gridSheet(const char* name, idut::Symbology symbology, int columns, int rows, double cellWidth,
                double cellHeight, double moduleSize, const std::function<std::pair<scene::DmSymbol, std::string>(int)>& make) {
  Sheet sheet{name, symbology, {}, {}};
  scene::SceneSpec spec;
  constexpr double kBorder = 20;
  spec.width = static_cast<int>(columns * cellWidth + 2 * kBorder);
  spec.height = static_cast<int>(rows * cellHeight + 2 * kBorder);
  for (int k = 0; k < columns * rows; ++k) {
    auto [symbol, text] = make(k);
    spec.symbols.push_back(symbol);
    spec.placements.push_back({.centre = {kBorder + (k % columns + 0.5) * cellWidth, kBorder + (k / columns + 0.5) * cellHeight},
                               .moduleSize = moduleSize, .angleDeg = 0, .quietZone = 2});
    sheet.texts.push_back(text);
  }
  sheet.scene = scene::render(spec);
  return sheet;
}

// How many true symbols have exactly one find whose centre lies within a quarter of the
// symbol's shorter side of theirs, with their text when the find was read.
int matchedOnce(const Sheet& sheet, const std::vector<idut::Symbol>& found) {
  int matched = 0;
  for (size_t t = 0; t < sheet.scene.symbols.size(); ++t) {
    const auto outline = sheet.scene.symbols[t].outline();
    const double cx = (outline[0].x + outline[1].x + outline[2].x + outline[3].x) / 4;
    const double cy = (outline[0].y + outline[1].y + outline[2].y + outline[3].y) / 4;
    const double reach = 0.25 * std::min(std::hypot(outline[1].x - outline[0].x, outline[1].y - outline[0].y),
                                         std::hypot(outline[3].x - outline[0].x, outline[3].y - outline[0].y));
    int hits = 0;
    for (const idut::Symbol& s : found) {
      const idut::Point c = s.corners.centre();
      hits += std::hypot(c.x - cx, c.y - cy) < reach && (!s.decoded || s.text == sheet.texts[t]);
    }
    matched += hits == 1;
  }
  return matched;
}

std::vector<Sheet> crowdedSheets() {
  auto digits = [](int k, int n) {
    std::string s = std::to_string(k);
    return std::string(n - std::min<int>(n, s.size()), '0') + s;
  };
  std::vector<Sheet> sheets;
  // More Data Matrix symbols than the search once stopped at (64).
  sheets.push_back(gridSheet("81 Data Matrix", idut::Symbology::DataMatrix, 9, 9, 56, 56, 3, [&](int k) {
    const std::string text = "dm" + digits(k, 2);
    return std::pair{scene::encodeDataMatrix(text), text};
  }));
  // More long Data Matrix rectangles (8 x 48) than the views round their bands once stopped at
  // (24).
  sheets.push_back(gridSheet("30 long Data Matrix rectangles", idut::Symbology::DataMatrix, 5, 6, 160, 64, 2, [&](int k) {
    const std::string text = "L" + digits(k, 2);
    return std::pair{scene::encodeDataMatrix(text, 31, scene::DmSizes::withRectangular), text};
  }));
  // More PDF417 symbols than that too.
  sheets.push_back(gridSheet("66 PDF417", idut::Symbology::PDF417, 6, 11, 190, 70, 1.5, [&](int k) {
    const std::string text = "pdf" + digits(k, 2);
    return std::pair{scene::encodePdf417(text, {.columns = 2, .security = 1, .rowHeight = 3}), text};
  }));
  // More bar-code regions than the 1D search once scanned (24).
  sheets.push_back(gridSheet("30 Code 128", idut::Symbology::Code128, 5, 6, 190, 90, 1.5, [&](int k) {
    const scene::Encoded1d e = scene::encode1d(scene::Barcode1d::code128, "C" + digits(k, 3), 30);
    return std::pair{e.bars, e.text};
  }));
  // Labels alike: the same text six times is six symbols.
  sheets.push_back(gridSheet("6 identical EAN-13", idut::Symbology::EAN13, 3, 2, 260, 160, 2, [&](int) {
    const scene::Encoded1d e = scene::encode1d(scene::Barcode1d::ean13, "400638133393", 40);
    return std::pair{e.bars, e.text};
  }));
  return sheets;
}

// Every symbol of a crowded image is found, however many there are; a limit the caller sets
// stops the search there and the report says the search was cut short, in C++ and C alike.
TEST(FrontDoor, EverySymbolIsFoundAndOnlyTheCallersLimitCutsTheSearchShort) {
  for (const Sheet& sheet : crowdedSheets()) {
    SCOPED_TRACE(sheet.name);
    const scene::GreyImage& g = sheet.scene.image;
    const idut::ImageView view(g.pixels.data(), g.width, g.height, g.width);
    idut::ReadOptions options;
    options.symbologies = {sheet.symbology};
    idut::ReadReport report;
    const std::vector<idut::Symbol> all = idut::readSymbols(view, options, report);
    EXPECT_EQ(all.size(), sheet.texts.size());
    EXPECT_EQ(matchedOnce(sheet, all), static_cast<int>(sheet.texts.size()));
    EXPECT_FALSE(report.truncated);
    EXPECT_EQ(report.reason, "");
    const int count = static_cast<int>(sheet.texts.size());
    // Located only, each symbol once and nothing else.
    options.decode = false;
    const std::vector<idut::Symbol> located = idut::readSymbols(view, options);
    options.decode = true;
    EXPECT_EQ(located.size(), sheet.texts.size());
    EXPECT_EQ(matchedOnce(sheet, located), count);
    const struct {
      int limit;
      size_t found;
      bool truncated;
    } limits[] = {{count - 1, size_t(count - 1), true}, {count + 1, size_t(count), false}, {3, 3, true}};
    for (const auto& l : limits) {
      options.maxSymbols = l.limit;
      EXPECT_EQ(idut::readSymbols(view, options, report).size(), l.found) << l.limit;
      EXPECT_EQ(report.truncated, l.truncated) << l.limit;
      EXPECT_EQ(report.reason.find("maxSymbols (" + std::to_string(l.limit) + ") reached") == 0, l.truncated)
          << report.reason;
      idut_read_options c;
      idut_read_options_init(&c);
      c.symbologies = options.symbologies.mask();
      c.max_symbols = l.limit;
      c.decode = 0;
      idut_symbol_list* list = nullptr;
      ASSERT_EQ(idut_read_symbols(g.pixels.data(), g.width, g.height, g.width, &c, &list), 0);
      EXPECT_EQ(list->count, l.found) << l.limit;
      EXPECT_EQ(list->truncated != 0, l.truncated) << l.limit;
      EXPECT_EQ(std::string(list->truncated_reason), report.reason);
      idut_symbol_list_free(list);
    }
  }
}

// Searches on several threads at once, each on an image of its own and some with a stop
// callback that never stops, give what each gives alone (the thread-sanitizer build runs this
// to look for races in the searches' shared state).
TEST(FrontDoor, SearchesOnSeveralThreadsAgreeWithOneAtATime) {
  std::vector<scene::GreyImage> images(1, scene::GreyImage(sample().width, sample().height));
  images[0].pixels = sample().pixels;
  images.push_back(scene::generate1d(scene::Barcode1d::ean13, scene::Condition1d::crowded, 5).scene.image);
  images.push_back(scene::generatePdf(scene::ConditionPdf::rotated, 2).scene.image);
  images.push_back(scene::generate(scene::Category::multiSymbol, 3).image);
  auto describe = [](const std::vector<idut::Symbol>& found) {
    std::string d;
    for (const idut::Symbol& s : found)
      d += std::string(idut::toString(s.symbology)) + " " + s.text + " " + std::to_string(s.corners.origin().x) + "\n";
    return d;
  };
  auto read = [&](size_t k, bool withStop) {
    const scene::GreyImage& g = images[k % images.size()];
    idut::ReadOptions options;
    if (withStop) options.stop = [] { return false; };
    return describe(idut::readSymbols(idut::ImageView(g.pixels.data(), g.width, g.height, g.width), options));
  };
  std::vector<std::string> alone;
  for (size_t k = 0; k < images.size(); ++k) alone.push_back(read(k, false));
  constexpr size_t kThreads = 8;
  std::vector<std::string> together(kThreads);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < kThreads; ++t) threads.emplace_back([&, t] { together[t] = read(t, t % 2 == 1); });
  for (std::thread& t : threads) t.join();
  for (size_t t = 0; t < kThreads; ++t) EXPECT_EQ(together[t], alone[t % images.size()]) << t;
  for (const std::string& a : alone) EXPECT_FALSE(a.empty());
}

}  // namespace
