// idut-sheet: does a big image lose symbols its parts would give? Tiles images side by side into
// one sheet of the size asked for (taking the images again from the first when they run out),
// searches every image alone and the sheet whole with the same options, and counts how many of
// the symbols found in the images alone the sheet gives too, at the same place (the centres
// within half the symbol's shorter side, at least 3 pixels) with the same text. The images
// stand --gap pixels apart (default 16) on white.
//
//   idut-sheet [--megapixels N] [--gap PX] [--write SHEET.png] [--symbology LIST] [--no-decode] [-v]
//              IMAGE|DIRECTORY...
//
// The images are taken in a fixed shuffled order (every 37th of the sorted list, round), so that
// a sheet smaller than all of them holds some of each kind. -v lists the symbols the sheet lost,
// each with the nearest find of its symbology on the sheet, and the sheet's extra finds.
// Prints, per symbology, the symbols of the images alone, how many the sheet gave, and the
// sheet's finds that no image gave; then the sheet's size, search time and whether the search
// said it was cut short. Exit status 0 when the sheet gave every symbol, 1 otherwise, 2 on bad
// arguments or files.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "idut/read.hpp"
#include "imageio/imageio.hpp"
#include "inputs.hpp"

namespace {

struct Find {
  idut::Symbology symbology;
  idut::Point centre;
  double side;  // the shorter of the two sides from the origin corner
  bool decoded;
  std::string text;
};

struct Tile {
  std::string path;
  imageio::GreyImage image;
  std::vector<Find> finds;  // in the tile's own coordinates
};

struct Placement {
  const Tile* tile;
  int x, y;
};

std::vector<Find> findsOf(const std::vector<idut::Symbol>& symbols) {
  std::vector<Find> finds;
  for (const idut::Symbol& s : symbols) {
    const idut::Quad& q = s.corners;
    const double side = std::min(std::hypot(q.xEnd().x - q.origin().x, q.xEnd().y - q.origin().y),
                                 std::hypot(q.yEnd().x - q.origin().x, q.yEnd().y - q.origin().y));
    finds.push_back({s.symbology, q.centre(), side, s.decoded, s.text});
  }
  return finds;
}

// Shelves: tiles left to right with a gap, a new row when the next would pass the sheet's
// width, until the rows fill the height. Tiles too big for an empty sheet are passed over; when
// none fits, nothing is placed (and the loop, which would otherwise pass over them for ever,
// is not entered).
std::vector<Placement> layOut(const std::vector<Tile>& tiles, int width, int height, int gap) {
  std::vector<Placement> placed;
  const auto fits = [&](const Tile& t) {
    return t.image.width + 2 * gap <= width && t.image.height + 2 * gap <= height;
  };
  if (std::none_of(tiles.begin(), tiles.end(), fits)) return placed;
  int x = gap, y = gap, rowHeight = 0;
  const size_t n = tiles.size(), stride = n % 37 != 0 ? 37 : 1;
  for (size_t k = 0;; ++k) {
    const size_t i = (k * stride + k / n) % n;
    const imageio::GreyImage& g = tiles[i].image;
    if (!fits(tiles[i])) continue;
    if (x + g.width + gap > width) {
      x = gap;
      y += rowHeight + gap;
      rowHeight = 0;
    }
    if (y + g.height + gap > height) break;
    placed.push_back({&tiles[i], x, y});
    x += g.width + gap;
    rowHeight = std::max(rowHeight, g.height);
  }
  return placed;
}

imageio::GreyImage compose(const std::vector<Placement>& placed, int width, int height) {
  imageio::GreyImage sheet{width, height, std::vector<uint8_t>(static_cast<size_t>(width) * height, 255)};
  for (const Placement& p : placed) {
    const imageio::GreyImage& g = p.tile->image;
    for (int row = 0; row < g.height; ++row)
      std::copy_n(g.pixels.begin() + static_cast<ptrdiff_t>(row) * g.width, g.width,
                  sheet.pixels.begin() + static_cast<ptrdiff_t>(p.y + row) * width + p.x);
  }
  return sheet;
}

struct Count {
  int alone = 0, onSheet = 0, extra = 0;
};

int usage() {
  std::fprintf(stderr, "usage: idut-sheet [--megapixels N] [--gap PX] [--write SHEET.png] [--symbology LIST] [--no-decode] [-v] "
                       "IMAGE|DIRECTORY...\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  double megapixels = 50;
  std::string writeTo;
  idut::ReadOptions options;
  std::vector<std::string> paths;
  bool verbose = false;
  int gap = 16;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "-v")) {
      verbose = true;
    } else if (!std::strcmp(argv[i], "--gap") && i + 1 < argc) {
      gap = std::max(1, std::atoi(argv[++i]));
    } else if (!std::strcmp(argv[i], "--megapixels") && i + 1 < argc) {
      megapixels = std::atof(argv[++i]);
    } else if (!std::strcmp(argv[i], "--write") && i + 1 < argc) {
      writeTo = argv[++i];
    } else if (!std::strcmp(argv[i], "--no-decode")) {
      options.decode = false;
    } else if (!std::strcmp(argv[i], "--symbology") && i + 1 < argc) {
      options.symbologies = {};
      for (char* name = std::strtok(argv[++i], ","); name; name = std::strtok(nullptr, ",")) {
        const auto s = idut::parseSymbology(name);
        if (!s) return usage();
        options.symbologies.insert(*s);
      }
    } else if (argv[i][0] == '-') {
      return usage();
    } else {
      paths.push_back(argv[i]);
    }
  }
  if (paths.empty() || !(megapixels > 0) || megapixels > 268) return usage();

  std::vector<Tile> tiles;
  for (const idutfind::Input& input : idutfind::collectInputs(paths).items) {
    Tile t{input.path, {}, {}};
    std::string error;
    if (!input.problem.empty() || !imageio::readGrey(input.path, &t.image, &error)) {
      if (input.problem.empty()) std::fprintf(stderr, "idut-sheet: %s\n", error.c_str());
      else std::fprintf(stderr, "idut-sheet: %s: %s\n", input.path.c_str(), input.problem.c_str());
      return 2;
    }
    t.finds = findsOf(idut::readSymbols(idut::ImageView(t.image.pixels.data(), t.image.width, t.image.height,
                                                        t.image.width), options));
    tiles.push_back(std::move(t));
  }

  const int width = static_cast<int>(std::sqrt(megapixels * 1e6 * 4 / 3)), height = static_cast<int>(megapixels * 1e6 / width);
  const std::vector<Placement> placed = layOut(tiles, width, height, gap);
  if (placed.empty()) {
    std::fprintf(stderr, "idut-sheet: no image fits on a sheet of %d x %d with a gap of %d\n", width, height, gap);
    return 2;
  }
  imageio::GreyImage sheet = compose(placed, width, height);
  std::string error;
  if (!writeTo.empty() && !imageio::writePng(writeTo, sheet, &error)) {
    std::fprintf(stderr, "idut-sheet: %s\n", error.c_str());
    return 2;
  }

  idut::ReadReport report;
  const auto start = std::chrono::steady_clock::now();
  const std::vector<Find> onSheet = findsOf(
      idut::readSymbols(idut::ImageView(sheet.pixels.data(), width, height, width), options, report));
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::map<std::string, Count> counts;
  std::vector<bool> claimed(onSheet.size(), false);
  int missing = 0;
  for (const Placement& p : placed) {
    for (const Find& f : p.tile->finds) {
      Count& c = counts[idut::toString(f.symbology)];
      ++c.alone;
      const idut::Point at{f.centre.x + p.x, f.centre.y + p.y};
      bool hit = false;
      for (size_t k = 0; k < onSheet.size() && !hit; ++k) {
        const Find& s = onSheet[k];
        hit = !claimed[k] && s.symbology == f.symbology &&
              std::hypot(s.centre.x - at.x, s.centre.y - at.y) <= std::max(3.0, 0.5 * f.side) &&
              (!f.decoded || (s.decoded && s.text == f.text));
        if (hit) claimed[k] = true;
      }
      c.onSheet += hit;
      missing += !hit;
      if (!hit && verbose) {
        double nearest = 1e300;
        const Find* near = nullptr;
        for (const Find& s : onSheet) {
          const double d = std::hypot(s.centre.x - at.x, s.centre.y - at.y);
          if (s.symbology == f.symbology && d < nearest) nearest = d, near = &s;
        }
        std::printf("lost %s %s \"%s\" at (%.1f, %.1f); nearest on the sheet: %.1f px, \"%s\"\n",
                    p.tile->path.c_str(), idut::toString(f.symbology), f.text.c_str(), at.x, at.y, near ? nearest : -1.0,
                    near ? near->text.c_str() : "");
      }
    }
  }
  for (size_t k = 0; k < onSheet.size(); ++k) {
    if (claimed[k]) continue;
    ++counts[idut::toString(onSheet[k].symbology)].extra;
    if (!verbose) continue;
    // The image it lies on, if any (an extra between images is made of two).
    const Placement* on = nullptr;
    for (const Placement& p : placed)
      if (onSheet[k].centre.x >= p.x && onSheet[k].centre.x < p.x + p.tile->image.width && onSheet[k].centre.y >= p.y &&
          onSheet[k].centre.y < p.y + p.tile->image.height)
        on = &p;
    std::printf("extra %s %s \"%s\" at (%.1f, %.1f) on %s\n", idut::toString(onSheet[k].symbology),
                onSheet[k].decoded ? "read" : "unread", onSheet[k].text.c_str(), onSheet[k].centre.x, onSheet[k].centre.y,
                on ? on->tile->path.c_str() : "no image");
  }

  std::printf("sheet %d x %d (%.1f megapixels), %zu images placed from %zu\n", width, height,
              width * static_cast<double>(height) / 1e6, placed.size(), tiles.size());
  std::printf("%-16s %8s %9s %6s\n", "symbology", "alone", "on sheet", "extra");
  for (const auto& [name, c] : counts) std::printf("%-16s %8d %9d %6d\n", name.c_str(), c.alone, c.onSheet, c.extra);
  std::printf("sheet search %.1f s%s%s\n", seconds, report.truncated ? ", cut short: " : ", not cut short",
              report.reason.c_str());
  return missing == 0 ? 0 : 1;
}
