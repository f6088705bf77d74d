// Binarisation and whole-image pixel operations for Python: uint8 arrays in, new arrays out.
#include <algorithm>
#include <limits>
#include <optional>

#include "ci_id/binarize.h"
#include "ci_id/pixelops.h"
#include "idut_python.hpp"

namespace idutpy {

namespace {

// An image the library binds new pixels to, freed on every way out.
struct Result {
  cimg_image image;
  Result() { cimg_image_constructUnbound(&image); }
  ~Result() { cimg_image_destruct(&image); }
  Result(const Result&) = delete;
  Result& operator=(const Result&) = delete;
};

// A numpy image wrapped for the library, for as long as the source array lives.
struct Source {
  GreyView view;
  cimg_imageConst image;
  Source(const py::handle& array, const char* name) : view(greyView(array, name)), image(wrapImage(view)) {}
  ~Source() { cimg_imageConst_destruct(&image); }
  Source(const Source&) = delete;
  Source& operator=(const Source&) = delete;
};

// ---- binarisation
// Unset keywords (None) keep the library's defaults; set ones are checked against the ranges the
// library accepts, so a wrong value is a ValueError naming the keyword.
py::object binarize(const py::handle& image, const py::object& method, const py::object& tiles,
                    const py::object& minRange, const py::object& minContrast, const py::object& reduction,
                    const py::object& offset, const py::object& windowSize, const py::object& contrastMaskArg) {
  cidut_binarizeParams params;
  check(cidut_binarizeParams_construct(&params), "binarize settings");
  params.method = int32Arg(method, "method", 0, 5);
  if (!tiles.is_none()) {
    const std::vector<int64_t> pair = intsArg(tiles, "tiles", 2, 2, 1, INT32_MAX);
    params.tilesX = static_cast<int32_t>(pair[0]);
    params.tilesY = static_cast<int32_t>(pair[1]);
  }
  if (!minRange.is_none()) params.minRange = static_cast<uint8_t>(intArg(minRange, "min_range", 0, 255));
  if (!minContrast.is_none())
    params.minContrast = realArg(minContrast, "min_contrast", -std::numeric_limits<double>::infinity(),
                                 std::numeric_limits<double>::infinity());
  if (!reduction.is_none()) params.reduction = int32Arg(reduction, "reduction", 0, 64);
  if (!offset.is_none()) params.offset = static_cast<uint8_t>(intArg(offset, "offset", 0, 255));
  if (!windowSize.is_none()) params.windowSize = int32Arg(windowSize, "window_size", 1, 181);
  const bool contrastMask = boolArg(contrastMaskArg, "contrast_mask");
  const Source source(image, "image");
  Result binary, mask;
  csys_status status;
  {
    py::gil_scoped_release released;
    status = cidut_binarizeImage(&binary.image, nullptr, nullptr, contrastMask ? &mask.image : nullptr,
                                 &source.image, &params);
  }
  check(status, "binarize");
  if (!contrastMask) return toArray(binary.image);
  // Only the local-contrast method writes the mask; the others leave it unbound.
  return py::make_tuple(toArray(binary.image),
                        cimg_image_isBound(&mask.image) ? py::object(toArray(mask.image)) : py::none());
}

// ---- pixel operations
template <csys_status (*op)(const cimg_image8Const*, const cimg_image8Const*, cimg_image*, int32_t)>
py::array_t<uint8_t> pairwise(const py::handle& a, const py::handle& b) {
  const Source first(a, "a"), second(b, "b");
  Result out;
  check(op(&first.image, &second.image, &out.image, 0), "add/subtract");
  return toArray(out.image);
}

py::array_t<uint8_t> invert(const py::handle& image) {
  const GreyView view = greyView(image, "image");
  Result out;
  check(cimg_image_construct(&out.image, view.width, view.height), "invert");
  for (int y = 0; y < view.height; ++y)
    std::copy_n(view.pixels + static_cast<ptrdiff_t>(y) * view.stride, view.width,
                out.image.window.pixels + static_cast<ptrdiff_t>(y) * out.image.window.stride);
  check(cidut_ip_pelInvert8(&out.image), "invert");
  return toArray(out.image);
}

py::array_t<uint8_t> mapTable(const py::handle& image, const py::handle& table) {
  const auto lut = lineArray<uint8_t>(table, "table");
  if (lut.shape(0) != 256) throw py::value_error("table must hold 256 entries, got " + std::to_string(lut.shape(0)));
  const Source source(image, "image");
  Result out;
  check(cip_image8_map(&out.image, &source.image, lut.data()), "map");
  return toArray(out.image);
}

py::tuple minMax(const py::handle& image) {
  const Source source(image, "image");
  uint8_t low = 0, high = 0;
  check(cidut_ip_pelMinMax8(&source.image, &low, &high), "min_max");
  return py::make_tuple(low, high);
}

template <typename Op>
py::array_t<uint8_t> unary(const py::handle& image, const char* what, Op op) {
  const Source source(image, "image");
  Result out;
  csys_status status;
  {
    py::gil_scoped_release released;
    status = op(&source.image, &out.image);
  }
  check(status, what);
  return toArray(out.image);
}

// The expanded image must stay within the sizes the module hands out as arrays.
void checkExpandedSize(const GreyView& view, int32_t factorX, int32_t factorY) {
  const int64_t width = int64_t{view.width} * factorX, height = int64_t{view.height} * factorY;
  if (width > INT32_MAX / 8 || height > INT32_MAX / 8 || width * height > INT32_MAX)
    throw py::value_error("the expanded image would be " + std::to_string(width) + " x " + std::to_string(height) +
                          " pixels, more than this module makes");
}

// ---- projection
// A parallelogram as three corner rows (Po, Px, Py) of (x, y) pixel coordinates.
cmath_shapeAffineRect regionOf(const py::handle& object) {
  const auto corners = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(object);
  if (!corners)
    throw py::type_error("region must be numbers: the corners Po, Px, Py as ((x, y), (x, y), (x, y))");
  if (corners.ndim() != 2 || corners.shape(0) != 3 || corners.shape(1) != 2)
    throw py::value_error("region must have shape (3, 2): the corners Po, Px, Py");
  const double* c = corners.data();
  cmath_shapeAffineRect region;
  region.po = {c[0], c[1]};
  region.px = {c[2], c[3]};
  region.py = {c[4], c[5]};
  return region;
}

py::tuple project(const py::handle& image, const py::handle& corners) {
  const cmath_shapeAffineRect region = regionOf(corners);
  const Source source(image, "image");
  Result out;
  int32_t count = 0;
  check(cidut_ip_project8(&source.image, &region, &count, &out.image), "project");
  // One row windowed to the bins that received samples; its origin is the first such bin.
  const cimg_window& w = out.image.window;
  py::array_t<uint8_t> values(w.width);
  if (w.width > 0) std::copy_n(w.pixels, w.width, values.mutable_data());
  return py::make_tuple(values, w.x0, count);
}

py::array_t<uint8_t> boxMean(const py::handle& image, const py::object& widthArg, const py::object& heightArg) {
  const GreyView view = greyView(image, "image");
  const int32_t width = int32Arg(widthArg, "width", 1, view.width);
  const int32_t height = int32Arg(heightArg, "height", 1, view.height);
  py::array_t<uint8_t> out({static_cast<py::ssize_t>(view.height), static_cast<py::ssize_t>(view.width)});
  check(cid_spatialAverage(view.pixels, view.width, view.height, view.stride, width, height, out.mutable_data(),
                           view.width),
        "box_mean");
  return out;
}

}  // namespace

void definePixels(py::module_& m) {
  m.def("binarize", &binarize, py::arg("image"), py::arg("method") = py::int_(3), py::kw_only(), py::arg("tiles") = py::none(),
        py::arg("min_range") = py::none(), py::arg("min_contrast") = py::none(), py::arg("reduction") = py::none(),
        py::arg("offset") = py::none(), py::arg("window_size") = py::none(), py::arg("contrast_mask") = py::bool_(false),
        R"(0 / 255 image of the image's size by one of six thresholds (255 where the pixel passes):
0 the mid-range of the image, 1 Otsu's threshold, 2 the mid-range of each tile when the tile's
range exceeds min_range (0 .. 255), 3 (default) (tile maximum + smallest tile minimum) / 2, 4 local
contrast at 1 / reduction (0 .. 64) resolution (min_contrast), 5 the window_size (1 .. 181) mean
less offset (0 .. 255).
tiles: (columns, rows) of methods 2 and 3 (default (20, 10)). With contrast_mask, returns
(binary, mask): method 4's contrast mask, None for the other methods.)");
  m.def("subtract", &pairwise<cidut_ip_pelSub8>, py::arg("a"), py::arg("b"),
        "a - b, negative results 0, over the part both images cover (the top-left corner of both).");
  m.def("add", &pairwise<cidut_ip_pelAdd8>, py::arg("a"), py::arg("b"), "a + b, results above 255 are 255, as subtract.");
  m.def("invert", &invert, py::arg("image"), "255 - image as a new array.");
  m.def("map", &mapTable, py::arg("image"), py::arg("table"), "table[image] for a uint8 table of 256 entries.");
  m.def("min_max", &minMax, py::arg("image"), "(smallest, largest) pixel.");
  m.def(
      "transpose",
      [](const py::handle& image) {
        return unary(image, "transpose", [](const cimg_imageConst* s, cimg_image* o) { return cidut_ip_pelTranspose8(s, o); });
      },
      py::arg("image"), "The image with rows and columns swapped.");
  m.def(
      "subsample",
      [](const py::handle& image, const py::object& stepX, const py::object& stepY) {
        const int32_t sx = int32Arg(stepX, "step_x", 1, INT32_MAX), sy = int32Arg(stepY, "step_y", 1, INT32_MAX);
        return unary(image, "subsample",
                     [&](const cimg_imageConst* s, cimg_image* o) { return cidut_ip_pelSample(s, o, sx, sy); });
      },
      py::arg("image"), py::arg("step_x"), py::arg("step_y"),
      "Every step-th pixel, from the middle of each step: out[j, i] = image[j*sy + (sy-1)//2, i*sx + (sx-1)//2].");
  m.def(
      "expand",
      [](const py::handle& image, const py::object& factorX, const py::object& factorY) {
        const int32_t fx = int32Arg(factorX, "factor_x", 1, INT32_MAX), fy = int32Arg(factorY, "factor_y", 1, INT32_MAX);
        const GreyView view = greyView(image, "image");
        checkExpandedSize(view, fx, fy);
        return unary(image, "expand",
                     [&](const cimg_imageConst* s, cimg_image* o) { return cidut_ip_pelExpand8(s, o, fx, fy); });
      },
      py::arg("image"), py::arg("factor_x"), py::arg("factor_y"), "Each pixel repeated as a factor_x x factor_y block.");
  m.def(
      "gauss",
      [](const py::handle& image, const py::object& sizeX, const py::object& sizeY) {
        const int32_t sx = int32Arg(sizeX, "size_x", 0, 24), sy = int32Arg(sizeY, "size_y", 0, 24);
        return unary(image, "gauss",
                     [&](const cimg_imageConst* s, cimg_image* o) { return cidut_ip_gauss8(s, o, sx, sy); });
      },
      py::arg("image"), py::arg("size_x"), py::arg("size_y"),
      "Gaussian smoothing with kernel half-widths size_x, size_y (0 .. 24), sigma 0.5 + size / 3.");
  m.def(
      "low_pass",
      [](const py::handle& image, const py::object& factorArg, const py::object& sizeArg, const py::object& passesArg,
         const py::object& maskThresholdArg) {
        // Factors far outside -1 .. 2 only saturate; the bound keeps the float conversion finite.
        const float factor = static_cast<float>(realArg(factorArg, "factor", -1e6, 1e6));
        const int32_t size = int32Arg(sizeArg, "size", 0, 65), passes = int32Arg(passesArg, "passes", 1, 3);
        const std::optional<int32_t> maskThreshold =
            maskThresholdArg.is_none() ? std::nullopt
                                       : std::optional<int32_t>(int32Arg(maskThresholdArg, "mask_threshold", 0, 255));
        return unary(image, "low_pass", [&](const cimg_imageConst* s, cimg_image* o) {
          return maskThreshold ? cidut_ip_plpf8Mask(s, o, factor, size, passes, *maskThreshold)
                               : cidut_ip_plpf8(s, o, factor, size, passes, 0);
        });
      },
      py::arg("image"), py::arg("factor"), py::arg("size"), py::arg("passes") = py::int_(1), py::kw_only(),
      py::arg("mask_threshold") = py::none(),
      "Box low-pass: image + factor * (box mean - image), box half-width size (0 .. 65), passes 1 .. 3 "
      "(factor 1 the mean, 0 the image, below 0 sharpening). With mask_threshold (0 .. 255), the local-contrast "
      "mask instead: 255 where |image - box mean| >= mask_threshold, else 0.");
  m.def("project", &project, py::arg("image"), py::arg("region"),
        R"(Projection of a parallelogram onto its Po-Px side, region ((x, y) of Po, Px, Py) in pixel
coordinates (pixel (x, y) covers [x, x+1) x [y, y+1)). Bin i of L = round(|Px - Po|) is the rounded
mean of the M = round(|Py - Po|) samples (both at least 1) at Po + (i + 0.5) / L (Px - Po) + (j + 0.5) / M
(Py - Po) that fall in the image, each the pixel containing it. Returns (values, first, count):
the uint8 bins from the first to the last with samples, the first one's index and the number of
samples taken (an empty array, 0, 0 when the region misses the image).)");
  m.def("box_mean", &boxMean, py::arg("image"), py::arg("width"), py::arg("height"),
        "Rounded mean of the width x height box whose top-left corner is each pixel; the last columns "
        "and rows, where the box would leave the image, repeat the last full box.");
}

}  // namespace idutpy
