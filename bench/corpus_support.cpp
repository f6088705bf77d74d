#include "corpus_support.hpp"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <utility>

#include "imageio/imageio.hpp"

namespace corpus {

void Tally::add(const Tally& o) {
  images += o.images;
  truthSymbols += o.truthSymbols;
  idutLocated += o.idutLocated;
  idutFalse += o.idutFalse;
  idutDecoded += o.idutDecoded;
  zxingLocated += o.zxingLocated;
  idutMs += o.idutMs;
  zxingMs += o.zxingMs;
  megapixels += o.megapixels;
}

Stamp now(bool cpuTime) {
  Stamp s;
  if (cpuTime) {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    s.cpuMs = static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
  } else {
    s.wall = std::chrono::steady_clock::now();
  }
  return s;
}

double msSince(const Stamp& start, bool cpuTime) {
  if (cpuTime) return now(true).cpuMs - start.cpuMs;
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start.wall).count();
}

std::vector<ZxingFind> zxingFinds(const scene::GreyImage& image, ZXing::BarcodeFormat format, bool cpuTime,
                                  double& ms) {
  ZXing::DecodeHints hints;
  hints.setFormats(format);
  hints.setTryHarder(true);
  hints.setTryRotate(true);
  const Stamp start = now(cpuTime);
  ZXing::Results results =
      ZXing::ReadBarcodes(ZXing::ImageView(image.pixels.data(), image.width, image.height, ZXing::ImageFormat::Lum), hints);
  std::vector<uint8_t> inverted(image.pixels.size());
  std::transform(image.pixels.begin(), image.pixels.end(), inverted.begin(), [](uint8_t v) { return 255 - v; });
  ZXing::Results more =
      ZXing::ReadBarcodes(ZXing::ImageView(inverted.data(), image.width, image.height, ZXing::ImageFormat::Lum), hints);
  ms = msSince(start, cpuTime);
  results.insert(results.end(), more.begin(), more.end());
  std::vector<ZxingFind> finds;
  for (const ZXing::Result& r : results) {
    if (!r.isValid()) continue;
    const auto& p = r.position();
    ZxingFind f;
    for (int k = 0; k < 4; ++k) {
      f.centre.x += p[k].x / 4.0;
      f.centre.y += p[k].y / 4.0;
    }
    // ZXing's positions count pixel centres at whole numbers; the scenes at x + 0.5.
    f.centre.x += 0.5;
    f.centre.y += 0.5;
    f.text = r.text();
    f.bytes.assign(r.bytes().begin(), r.bytes().end());
    finds.push_back(f);
  }
  return finds;
}

bool insideConvex(const std::array<scene::Point, 4>& quad, scene::Point p) {
  int sign = 0;
  for (int k = 0; k < 4; ++k) {
    const scene::Point a = quad[k], b = quad[(k + 1) % 4];
    const double cross = (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
    const int s = cross > 0 ? 1 : (cross < 0 ? -1 : 0);
    if (s != 0 && sign != 0 && s != sign) return false;
    if (s != 0) sign = s;
  }
  return true;
}

std::vector<idut::Symbol> readIdut(const scene::GreyImage& image, const idut::ReadOptions& options) {
  try {
    return idut::readSymbols(idut::ImageView(image.pixels.data(), image.width, image.height, image.width), options);
  } catch (const idut::Error& e) {
    return e.symbols();
  }
}

void writeScene(const std::string& directory, const std::string& name, int index, const scene::GreyImage& image) {
  if (!directory.empty()) scene::writePng(directory + "/" + name + "-" + std::to_string(index) + ".png", image);
}

bool cornersMatch(const idut::Symbol& found, const scene::SymbolTruth& truth) {
  const double tolerance = std::max(2.0, truth.moduleSize);
  for (const scene::Point& t : truth.outline()) {
    bool near = false;
    for (const idut::Point& c : found.corners.points) near |= std::hypot(c.x - t.x, c.y - t.y) <= tolerance;
    if (!near) return false;
  }
  return true;
}

void Tally::addImage(const scene::GreyImage& image, std::span<const scene::SymbolTruth> truths,
                     const std::vector<idut::Symbol>& idut, double idutMs, const std::vector<ZxingFind>& zxing,
                     double zxingMs) {
  ++images;
  this->idutMs += idutMs;
  this->zxingMs += zxingMs;
  megapixels += image.width * static_cast<double>(image.height) / 1e6;
  truthSymbols += static_cast<int>(truths.size());
  std::vector<bool> used(idut.size(), false);
  for (const scene::SymbolTruth& truth : truths) {
    for (size_t i = 0; i < idut.size(); ++i)
      if (!used[i] && cornersMatch(idut[i], truth)) {
        used[i] = true;
        ++idutLocated;
        // Binary content has no text: its bytes are the truth's.
        const bool same = idut[i].contentType == idut::ContentType::Binary
                              ? std::string(idut[i].bytes.begin(), idut[i].bytes.end()) == truth.symbol.text
                              : idut[i].text == truth.symbol.text;
        idutDecoded += idut[i].decoded && same;
        break;
      }
    for (const ZxingFind& z : zxing)
      if ((z.text == truth.symbol.text || z.bytes == truth.symbol.text) && insideConvex(truth.outline(), z.centre)) {
        ++zxingLocated;
        break;
      }
  }
  idutFalse += static_cast<int>(std::count(used.begin(), used.end(), false));
}

scene::GreyImage rotated(const scene::GreyImage& in, int quarterTurns) {
  if (quarterTurns % 2 == 0) {
    scene::GreyImage out = in;
    if (quarterTurns == 2) std::reverse(out.pixels.begin(), out.pixels.end());
    return out;
  }
  scene::GreyImage out(in.height, in.width);
  for (int y = 0; y < in.height; ++y)
    for (int x = 0; x < in.width; ++x) {
      // A quarter turn clockwise takes (x, y) to (h - 1 - y, x); three to (y, w - 1 - x).
      const int ox = quarterTurns == 1 ? in.height - 1 - y : y;
      const int oy = quarterTurns == 1 ? x : in.width - 1 - x;
      out.at(ox, oy) = in.at(x, y);
    }
  return out;
}

bool readImage(const std::string& file, scene::GreyImage* image) {
  imageio::GreyImage grey;
  std::string error;
  if (!imageio::readGrey(file, &grey, &error)) {
    std::fprintf(stderr, "idut-corpus: %s\n", error.c_str());
    return false;
  }
  image->width = grey.width;
  image->height = grey.height;
  image->pixels = std::move(grey.pixels);
  return true;
}

std::optional<std::string> inChildProcess(const std::function<std::string()>& work) {
  int fds[2];
  if (pipe(fds) != 0) return std::nullopt;
  std::fflush(stdout);
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    const std::string message = work();
    for (size_t done = 0; done < message.size();) {
      const ssize_t n = write(fds[1], message.data() + done, message.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    _exit(0);
  }
  close(fds[1]);
  std::string message;
  char buffer[4096];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) message.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  if (child > 0) waitpid(child, &status, 0);
  if (child <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return message;
}

}  // namespace corpus
