// The stand-alone image operations for Python: correlation of lines, grey morphology and edge
// detection, numpy arrays in and out.
#include <cstring>
#include <optional>

#include "base/cip_histogram.h"
#include "ci_id/correlate.h"
#include "ci_id/edge.h"
#include "ci_id/morph.h"
#include "ci_id/threshold.h"
#include "idut_python.hpp"

namespace idutpy {

namespace {

// Images the library allocates, freed on every way out.
struct OwnedImage {
  cimg_image image;
  OwnedImage() { cimg_image_constructUnbound(&image); }
  ~OwnedImage() { cimg_image_destruct(&image); }
  OwnedImage(const OwnedImage&) = delete;
  OwnedImage& operator=(const OwnedImage&) = delete;
};

struct WrappedImage {
  cimg_imageConst image;
  explicit WrappedImage(const GreyView& view) : image(wrapImage(view)) {}
  ~WrappedImage() { cimg_imageConst_destruct(&image); }
  WrappedImage(const WrappedImage&) = delete;
  WrappedImage& operator=(const WrappedImage&) = delete;
};

// ---- correlation
// Whether the template is 32-bit, so both lines must be (else both must be 8-bit).
bool wideLines(const py::handle& templ) {
  return py::isinstance<py::array>(templ) &&
         py::reinterpret_borrow<py::array>(templ).dtype().equal(py::dtype::of<uint32_t>());
}

// The shift range a template and margin allow over a signal: the library refuses margins of the
// template's length or more and signals shorter than the template, checked here before the
// scores are allocated.
int32_t marginArg(const py::object& margin, py::ssize_t templateLength, py::ssize_t signalLength) {
  if (signalLength < templateLength)
    throw py::value_error("signal (" + std::to_string(signalLength) + " samples) must be at least as long as template (" +
                          std::to_string(templateLength) + ")");
  return int32Arg(margin, "margin", 0, static_cast<int32_t>(templateLength - 1));
}

template <typename T, auto correlateLine>
py::array_t<double> correlateLines(const py::handle& templ, const py::handle& signal, const py::object& marginValue) {
  const auto t = lineArray<T>(templ, "template"), s = lineArray<T>(signal, "signal");
  const int32_t margin = marginArg(marginValue, t.shape(0), s.shape(0));
  py::array_t<double> scores(s.shape(0) - t.shape(0) + 1 + 2 * static_cast<py::ssize_t>(margin));
  check(correlateLine(t.data(), static_cast<int32_t>(t.shape(0)), s.data(), static_cast<int32_t>(s.shape(0)), margin,
                      scores.mutable_data()),
        "correlate");
  return scores;
}

py::array_t<double> correlate(const py::handle& templ, const py::handle& signal, const py::object& margin) {
  if (wideLines(templ)) return correlateLines<uint32_t, cf_correlate1D_U32>(templ, signal, margin);
  return correlateLines<uint8_t, cf_correlate1D_U8>(templ, signal, margin);
}

py::tuple bestShift(const py::handle& templ, const py::handle& signal, const py::object& marginValue) {
  double offset = 0, score = 0;
  if (wideLines(templ)) {
    const auto t = lineArray<uint32_t>(templ, "template"), s = lineArray<uint32_t>(signal, "signal");
    const int32_t margin = int32Arg(marginValue, "margin", 0, static_cast<int32_t>(t.shape(0) - 1));
    check(cidut_RunCorrelate_UInt32(t.data(), static_cast<int32_t>(t.shape(0)), s.data(),
                                    static_cast<int32_t>(s.shape(0)), margin, &offset, &score),
          "best_shift");
  } else {
    const auto t = lineArray<uint8_t>(templ, "template"), s = lineArray<uint8_t>(signal, "signal");
    const int32_t margin = int32Arg(marginValue, "margin", 0, static_cast<int32_t>(t.shape(0) - 1));
    check(cf_RunCorrelate_U8(t.data(), static_cast<int32_t>(t.shape(0)), s.data(), static_cast<int32_t>(s.shape(0)),
                             margin, &offset, &score),
          "best_shift");
  }
  return py::make_tuple(offset, score);
}

// ---- morphology
int morphOperation(const py::object& operation) {
  const std::string name = textArg(operation, "operation");
  if (name == "max" || name == "dilate") return CIDUT_MORPH_MAX;
  if (name == "min" || name == "erode") return CIDUT_MORPH_MIN;
  if (name == "open") return CIDUT_MORPH_OPEN;
  if (name == "close") return CIDUT_MORPH_CLOSE;
  throw py::value_error("operation must be 'max' ('dilate'), 'min' ('erode'), 'open' or 'close', got '" + name + "'");
}

// Kernel sides beyond any image the library takes (and far from its index arithmetic's limits).
constexpr int32_t kMaxKernelSide = 1 << 20;

py::array_t<uint8_t> morphology(const py::handle& image, const py::object& operation, const py::object& widthArg,
                                const py::object& heightArg) {
  const int op = morphOperation(operation);
  const int32_t width = int32Arg(widthArg, "width", 1, kMaxKernelSide);
  const int32_t height = int32Arg(heightArg, "height", 1, kMaxKernelSide);
  const GreyView view = greyView(image, "image");
  WrappedImage source(view);
  OwnedImage result;
  check(cidut_morph2d_run(&source.image, &result.image, op, width, height), "morphology");
  return toArray(result.image);
}

py::array_t<uint8_t> rowExtrema(const py::handle& line, const py::object& windowArg, bool maximum) {
  const auto source = lineArray<uint8_t>(line, "line");
  const int32_t length = static_cast<int32_t>(source.shape(0));
  if (length < 3) throw py::value_error("line must hold at least 3 samples, got " + std::to_string(length));
  const int32_t window = int32Arg(windowArg, "window", 2, length - 1);
  py::array_t<uint8_t> out(length);
  check((maximum ? rowExtremaMax : rowExtremaMin)(window, source.data(), out.mutable_data(), length, nullptr),
        maximum ? "running_max" : "running_min");
  return out;
}

// ---- edges
// Gains and thresholds past these only saturate every magnitude (or none).
cip_edgeParams edgeParams(const py::object& threshold, const py::object& gain, const py::object& centresOnly) {
  cip_edgeParams params;
  check(cip_edgeParams_init(&params), "edge settings");
  params.threshold = realArg(threshold, "threshold", 0, 1e6);
  params.gain = realArg(gain, "gain", 0, 1e6);
  params.centresOnly = boolArg(centresOnly, "centres_only") ? 1 : 0;
  return params;
}

// An image the library made over the source less its border, as an array of the source's size
// whose one-pixel border is 0 (so both index alike).
py::array_t<uint8_t> fullSize(const cimg_image& inner, int width, int height) {
  py::array_t<uint8_t> out({static_cast<py::ssize_t>(height), static_cast<py::ssize_t>(width)});
  std::memset(out.mutable_data(), 0, static_cast<size_t>(width) * height);
  if (!cimg_image_isBound(&inner)) return out;  // too small to have gradients
  const cimg_window& w = inner.window;
  for (int y = 0; y < w.height; ++y)
    std::memcpy(out.mutable_data(w.y0 + y, w.x0), w.pixels + static_cast<ptrdiff_t>(y) * w.stride,
                static_cast<size_t>(w.width));
  return out;
}

py::tuple edges(const py::handle& image, const py::object& gain) {
  const cip_edgeParams params = edgeParams(py::int_(0), gain, py::bool_(false));
  const GreyView view = greyView(image, "image");
  WrappedImage source(view);
  OwnedImage magnitude, angle;
  {
    py::gil_scoped_release released;
    check(cip_edge_detectMagAng(&source.image, &params, &magnitude.image, &angle.image), "edges");
  }
  return py::make_tuple(fullSize(magnitude.image, view.width, view.height),
                        fullSize(angle.image, view.width, view.height));
}

py::dict edgePoints(const py::handle& image, const py::object& threshold, const py::object& gain,
                    const py::object& centresOnly) {
  const cip_edgeParams params = edgeParams(threshold, gain, centresOnly);
  const GreyView view = greyView(image, "image");
  WrappedImage source(view);
  csEdgeList* list = nullptr;
  csys_status status;
  {
    py::gil_scoped_release released;
    status = cip_edge_detectEdges(&source.image, &params, &list);
  }
  check(status, "edge_points");
  uint32_t count = 0;
  csEdgeListLen(list, &count);
  py::array_t<float> x(count), y(count), dx(count), dy(count);
  py::array_t<uint8_t> magnitude(count);
  for (uint32_t i = 0; i < count; ++i) {
    x.mutable_data()[i] = csEdgeX(list, i);
    y.mutable_data()[i] = csEdgeY(list, i);
    dx.mutable_data()[i] = csEdgeDx(list, i);
    dy.mutable_data()[i] = csEdgeDy(list, i);
    magnitude.mutable_data()[i] = csEdgeMag(list, i);
  }
  csEdgeListDelete(&list);
  py::dict points;
  points["x"] = x;
  points["y"] = y;
  points["magnitude"] = magnitude;
  points["dx"] = dx;
  points["dy"] = dy;
  return points;
}

py::array_t<uint8_t> hysteresis(const py::handle& magnitude, const py::object& lowArg, const py::object& highArg,
                                const py::object& connectArg) {
  const bool connect = boolArg(connectArg, "connect");
  const int32_t low = int32Arg(lowArg, "low", connect ? 1 : 0, 255);
  const int32_t high = int32Arg(highArg, "high", low, 255);
  const GreyView view = greyView(magnitude, "magnitude");
  WrappedImage source(view);
  OwnedImage result;
  check(cip_edge_hysteresisThreshold(&source.image, &result.image, static_cast<uint8_t>(low),
                                     static_cast<uint8_t>(high), nullptr, -1, 0, 255, connect ? 1 : 0),
        "hysteresis");
  return toArray(result.image);
}

// ---- grey-level statistics
py::array_t<uint32_t> histogram(const py::handle& image) {
  const GreyView view = greyView(image, "image");
  WrappedImage source(view);
  py::array_t<uint32_t> counts(CIP_HISTOGRAM8_BINS);
  check(cip_pelHistogram8(&source.image, counts.mutable_data()), "histogram");
  return counts;
}

py::tuple threshold(const py::handle& image, const py::object& fraction) {
  const std::optional<double> share =
      fraction.is_none() ? std::nullopt : std::optional<double>(realArg(fraction, "fraction", 0, 1));
  const GreyView view = greyView(image, "image");
  WrappedImage source(view);
  cid_thresholdResult result;
  cid_thresholdResult_init(&result);
  if (share) {
    check(cid_thresholdBasedOnPercentage(&source.image, static_cast<float>(*share), &result), "threshold");
  } else {
    check(cid_threshold(&source.image, &result), "threshold");
  }
  return py::make_tuple(result.threshold, result.quality);
}

}  // namespace

void defineImages(py::module_& m) {
  m.def("histogram", &histogram, py::arg("image"), "The 256 grey-level counts of an image (uint32 array).");
  m.def("threshold", &threshold, py::arg("image"), py::arg("fraction") = py::none(),
        "(threshold, quality): pixels from threshold on are the bright class. Without fraction, "
        "Otsu's split with its separability (0..1); with it, the first grey value whose cumulative "
        "count reaches that fraction of the pixels (0.5: the median), quality 1.");
  m.def("correlate", &correlate, py::arg("template"), py::arg("signal"), py::arg("margin") = py::int_(0),
        "Squared normalised correlation of a template sliding over a signal (both uint8 or both uint32 "
        "1D arrays): one score in 0..1 per shift -margin .. len(signal) - len(template) + margin.");
  m.def("best_shift", &bestShift, py::arg("template"), py::arg("signal"), py::arg("margin") = py::int_(0),
        "(shift, score): the best shift of the template along the signal, refined to a fraction of a "
        "sample; (0.0, 0.0) when no shift correlates positively.");
  m.def("morphology", &morphology, py::arg("image"), py::arg("operation"), py::arg("width"), py::arg("height"),
        "Grey morphology with a width x height rectangle: 'max' ('dilate'), 'min' ('erode'), 'open' "
        "or 'close'. Returns a new uint8 array of the image's size.");
  m.def(
      "running_max", [](const py::handle& line, const py::object& window) { return rowExtrema(line, window, true); },
      py::arg("line"), py::arg("window"),
      "Running maximum of a uint8 line over samples x - r .. x + r, r = max(1, (window - 1) // 2).");
  m.def(
      "running_min", [](const py::handle& line, const py::object& window) { return rowExtrema(line, window, false); },
      py::arg("line"), py::arg("window"), "Running minimum, as running_max.");
  m.def("edges", &edges, py::arg("image"), py::arg("gain") = py::float_(1.0),
        "(magnitude, angle): uint8 arrays of the image's size with the gradient magnitude (Sobel / 4 "
        "times gain, capped at 255) and its angle (256 units a turn, 0 along +x, 64 along +y); the "
        "one-pixel border, which has no gradient, is 0.");
  m.def("edge_points", &edgePoints, py::arg("image"), py::arg("threshold") = py::float_(10.0),
        py::arg("gain") = py::float_(1.0), py::arg("centres_only") = py::bool_(false),
        "Edge points (non-maximum suppressed, magnitude at least threshold) in raster order, as a dict "
        "of arrays: x, y (sub-pixel positions), magnitude, dx, dy (unit gradient direction).");
  m.def("hysteresis", &hysteresis, py::arg("magnitude"), py::arg("low"), py::arg("high"), py::arg("connect") = py::bool_(true),
        "Hysteresis threshold of a magnitude image: 255 where a pixel is at least high or (with connect) "
        "joined to one through pixels of at least low, else 0.");
}

}  // namespace idutpy
