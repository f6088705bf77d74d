#include "reader/datamatrix/dmlocalnoise.hpp"

#include <algorithm>
#include <cstring>

#include "reader/datamatrix/dmdenoise.hpp"

namespace dmroad {

namespace {

enum Smoothing : uint8_t { kNone = 0, kOnce = 1, kTwice = 2 };

cimg_windowConst subWindow(const cimg_windowConst& w, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  return cimg_windowConst{x1 - x0, y1 - y0, 0, 0, w.stride, w.pixels + static_cast<ptrdiff_t>(y0) * w.stride + x0};
}

bool wholeImage(const std::vector<NoisyPart>& parts, int32_t width, int32_t height) {
  return parts.size() == 1 && parts[0].x0 == 0 && parts[0].y0 == 0 && parts[0].x1 == width &&
         parts[0].y1 == height;
}

// Each block's own smoothing, then every block takes the strongest of itself and its eight
// neighbours: a block only partly covered by a noisy label is mostly white and measures clean,
// yet may hold the edge of a symbol whose other blocks measured noisy.
std::vector<uint8_t> blockSmoothing(const cimg_windowConst& w, double above, double twiceAbove, int32_t columns,
                                    int32_t rows) {
  std::vector<uint8_t> own(static_cast<size_t>(columns) * rows, kNone);
  for (int32_t by = 0; by < rows; ++by)
    for (int32_t bx = 0; bx < columns; ++bx) {
      const int32_t x0 = bx * kNoiseBlock, y0 = by * kNoiseBlock;
      const cimg_windowConst block =
          subWindow(w, x0, y0, std::min(x0 + kNoiseBlock, w.width), std::min(y0 + kNoiseBlock, w.height));
      const double noise = noiseSigma(block, above);
      own[static_cast<size_t>(by) * columns + bx] = noise > twiceAbove ? kTwice : noise > above ? kOnce : kNone;
    }
  std::vector<uint8_t> grown(own.size(), kNone);
  for (int32_t by = 0; by < rows; ++by)
    for (int32_t bx = 0; bx < columns; ++bx) {
      uint8_t strongest = kNone;
      for (int32_t ny = std::max(0, by - 1); ny <= std::min(rows - 1, by + 1); ++ny)
        for (int32_t nx = std::max(0, bx - 1); nx <= std::min(columns - 1, bx + 1); ++nx)
          strongest = std::max(strongest, own[static_cast<size_t>(ny) * columns + nx]);
      grown[static_cast<size_t>(by) * columns + bx] = strongest;
    }
  return grown;
}

}  // namespace

std::vector<NoisyPart> noisyParts(const cimg_windowConst& w, double above, double twiceAbove, bool byBlocks) {
  if (w.width < 1 || w.height < 1) return {};
  if (!byBlocks) {
    const double noise = noiseSigma(w, above);
    if (!(noise > above)) return {};
    return {NoisyPart{0, 0, w.width, w.height, noise > twiceAbove}};
  }
  const int32_t columns = (w.width + kNoiseBlock - 1) / kNoiseBlock, rows = (w.height + kNoiseBlock - 1) / kNoiseBlock;
  const std::vector<uint8_t> smoothing = blockSmoothing(w, above, twiceAbove, columns, rows);
  // Runs of blocks alike along each block row, one part each.
  std::vector<NoisyPart> parts;
  for (int32_t by = 0; by < rows; ++by) {
    const uint8_t* row = smoothing.data() + static_cast<size_t>(by) * columns;
    for (int32_t bx = 0; bx < columns;) {
      const uint8_t kind = row[bx];
      int32_t end = bx + 1;
      while (end < columns && row[end] == kind) ++end;
      if (kind != kNone)
        parts.push_back(NoisyPart{bx * kNoiseBlock, by * kNoiseBlock, std::min(end * kNoiseBlock, w.width),
                                  std::min((by + 1) * kNoiseBlock, w.height), kind == kTwice});
      bx = end;
    }
  }
  return parts;
}

void smoothParts(const cimg_windowConst& w, const std::vector<NoisyPart>& parts, uint8_t* out) {
  const int32_t width = w.width, height = w.height;
  if (width <= 0 || height <= 0) return;
  if (wholeImage(parts, width, height)) {
    if (parts[0].twice)
      smoothBinomialTwice(w, out);
    else
      smoothBinomial(w, out);
    return;
  }
  for (int32_t y = 0; y < height; ++y)
    std::memcpy(out + static_cast<size_t>(y) * width, w.pixels + static_cast<ptrdiff_t>(y) * w.stride,
                static_cast<size_t>(width));
  // Each part smoothed with two pixels of the image around it, all the 5 x 5 kernel reaches, so
  // its pixels come out as the whole image's smoothing gives them; the edges are repeated only
  // where the image itself ends.
  constexpr int32_t kReach = 2;
  std::vector<uint8_t> smoothed;
  for (const NoisyPart& p : parts) {
    const int32_t x0 = std::clamp(p.x0, 0, width), y0 = std::clamp(p.y0, 0, height);
    const int32_t x1 = std::clamp(p.x1, x0, width), y1 = std::clamp(p.y1, y0, height);
    if (x1 == x0 || y1 == y0) continue;
    const int32_t ex0 = std::max(0, x0 - kReach), ey0 = std::max(0, y0 - kReach);
    const int32_t ex1 = std::min(width, x1 + kReach), ey1 = std::min(height, y1 + kReach);
    const cimg_windowConst around = subWindow(w, ex0, ey0, ex1, ey1);
    smoothed.resize(static_cast<size_t>(around.width) * around.height);
    if (p.twice)
      smoothBinomialTwice(around, smoothed.data());
    else
      smoothBinomial(around, smoothed.data());
    for (int32_t y = y0; y < y1; ++y)
      std::memcpy(out + static_cast<size_t>(y) * width + x0,
                  smoothed.data() + static_cast<size_t>(y - ey0) * around.width + (x0 - ex0),
                  static_cast<size_t>(x1 - x0));
  }
}

void markNoiseCellsInParts(const cimg_windowConst& searched, int32_t shift, const std::vector<NoisyPart>& parts,
                           const std::vector<int32_t>& rows, cimg_window* marking) {
  const int32_t width = searched.width - 2 * shift, height = searched.height - 2 * shift;
  if (wholeImage(parts, width, height)) {
    markNoiseCells(searched, rows, marking);
    return;
  }
  // Pixels of the searched image either side of a part whose responses its own cells need: the
  // driver's response at x reads from x - 1 to x + 4, and markNoiseCells walks up to 7 pixels
  // short of the window's right edge. A whole number of cells, so the cells keep their places.
  constexpr int32_t kContext = 8;
  std::vector<int32_t> partRows;
  std::vector<uint8_t> cells;
  for (const NoisyPart& p : parts) {
    // A part at the image's edge takes in the frame beyond it, as the whole image's marking does.
    const int32_t x0 = p.x0 <= 0 ? 0 : p.x0 + shift, y0 = p.y0 <= 0 ? 0 : p.y0 + shift;
    const int32_t x1 = p.x1 >= width ? searched.width : p.x1 + shift;
    const int32_t y1 = p.y1 >= height ? searched.height : p.y1 + shift;
    // Cells of the part: those holding a pixel of it (x0 and y0 are whole cells).
    const int32_t cx0 = x0 / 4, cy0 = y0 / 4;
    const int32_t cx1 = std::min(marking->width, (x1 + 3) / 4), cy1 = std::min(marking->height, (y1 + 3) / 4);
    if (cx1 <= cx0 || cy1 <= cy0) continue;
    partRows.clear();
    for (const int32_t y : rows)
      if (y >= y0 && y < y1) partRows.push_back(y - y0);
    if (partRows.empty()) continue;
    // The window with its context, and a copy of the marks over it (marked cells stay marked).
    const int32_t wx0 = std::max(0, x0 - kContext), wx1 = std::min(searched.width, x1 + kContext);
    const cimg_windowConst window = subWindow(searched, wx0, y0, wx1, y1);
    const int32_t mx0 = wx0 / 4, mx1 = std::min(marking->width, (wx1 + 3) / 4);
    const int32_t cellsWide = mx1 - mx0, cellsHigh = cy1 - cy0;
    cells.resize(static_cast<size_t>(cellsWide) * cellsHigh);
    for (int32_t cy = 0; cy < cellsHigh; ++cy)
      std::memcpy(cells.data() + static_cast<size_t>(cy) * cellsWide,
                  marking->pixels + static_cast<ptrdiff_t>(cy0 + cy) * marking->stride + mx0,
                  static_cast<size_t>(cellsWide));
    cimg_window copy{cellsWide, cellsHigh, 0, 0, cellsWide, cells.data()};
    markNoiseCells(window, partRows, &copy);
    // Only the part's own cells go back: the context's belong to other parts or to none.
    for (int32_t cy = 0; cy < cellsHigh; ++cy)
      std::memcpy(marking->pixels + static_cast<ptrdiff_t>(cy0 + cy) * marking->stride + cx0,
                  cells.data() + static_cast<size_t>(cy) * cellsWide + (cx0 - mx0), static_cast<size_t>(cx1 - cx0));
  }
}

}  // namespace dmroad
