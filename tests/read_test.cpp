// The front door, idut::readSymbols and idut_read_symbols: what it reads from the sample, how it
// refuses bad input (C++ and C alike), that nothing leaks on any failure, and the stop callback.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

#include "idut/read.h"
#include "idut/read.hpp"
#include "imageio/imageio.hpp"
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
    EXPECT_EQ(s.symbology, idut::Symbology::DataMatrix);
    EXPECT_TRUE(s.decoded);
    EXPECT_EQ(s.text, kSampleTexts[i]);
    EXPECT_EQ(std::string(s.bytes.begin(), s.bytes.end()), kSampleTexts[i]);
    EXPECT_TRUE(s.decodeError.empty());
    EXPECT_EQ(s.symbologyIdentifier, "]d1");
    EXPECT_EQ(s.contentType, idut::ContentType::Text);
    EXPECT_GT(s.rows, 0);
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
    EXPECT_STREQ(idut_symbology_name(s.symbology), "DataMatrix");
    EXPECT_EQ(std::string(s.text, s.text_length), kSampleTexts[i]);
    EXPECT_STREQ(s.decode_error, "");
    EXPECT_EQ(s.append_index, -1);
    for (int k = 0; k < 4; ++k) {
      EXPECT_EQ(s.corners[k].x, cpp[i].corners.points[k].x);
      EXPECT_EQ(s.corners[k].y, cpp[i].corners.points[k].y);
    }
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
  EXPECT_GT(failures, 40);
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
}

}  // namespace
