// numpy arrays in and out: dtype and shape checks, strided and colour arrays to grey pixels.
#include <cstring>
#include <limits>

#include "idut_python.hpp"
#include "imageio/imageio.hpp"

namespace idutpy {

namespace {

std::string shapeText(const py::array& a) {
  std::string text = "(";
  for (py::ssize_t d = 0; d < a.ndim(); ++d) text += (d ? ", " : "") + std::to_string(a.shape(d));
  return text + (a.ndim() == 1 ? ",)" : ")");
}

// The array itself, or TypeError naming what it is.
py::array asArray(const py::handle& object, const char* name) {
  if (!py::isinstance<py::array>(object))
    throw py::type_error(std::string(name) + " must be a numpy array, got " +
                         py::str(object.get_type().attr("__name__")).cast<std::string>());
  return py::reinterpret_borrow<py::array>(object);
}

template <typename T>
void requireDtype(const py::array& a, const char* name) {
  if (!a.dtype().equal(py::dtype::of<T>()))
    throw py::type_error(std::string(name) + " must have dtype " + py::str(py::dtype::of<T>()).cast<std::string>() +
                         ", got " + py::str(a.dtype()).cast<std::string>());
}

constexpr py::ssize_t kMaxSide = std::numeric_limits<int32_t>::max() / 8;

}  // namespace

GreyView greyView(const py::handle& object, const char* name) {
  const py::array a = asArray(object, name);
  requireDtype<uint8_t>(a, name);
  const py::ssize_t channels = a.ndim() == 3 ? a.shape(2) : 1;
  if (a.ndim() != 2 && !(a.ndim() == 3 && channels >= 1 && channels <= 4))
    throw py::value_error(std::string(name) +
                          " must have shape (rows, columns) or (rows, columns, channels) with 1 to 4 channels, got " +
                          shapeText(a));
  const py::ssize_t rows = a.shape(0), columns = a.shape(1);
  if (rows == 0 || columns == 0) throw py::value_error(std::string(name) + " is empty, shape " + shapeText(a));
  if (rows > kMaxSide || columns > kMaxSide || rows * columns > std::numeric_limits<int32_t>::max())
    throw py::value_error(std::string(name) + " is too large, shape " + shapeText(a));

  GreyView view;
  view.width = static_cast<int>(columns);
  view.height = static_cast<int>(rows);
  const auto* base = static_cast<const uint8_t*>(a.data());
  const py::ssize_t rowStep = a.strides(0), columnStep = a.strides(1);
  const py::ssize_t sampleStep = a.ndim() == 3 ? a.strides(2) : 1;
  if (channels == 1 && columnStep == 1 && rowStep >= columns && rowStep <= std::numeric_limits<int32_t>::max()) {
    view.pixels = base;
    view.stride = static_cast<int>(rowStep);
    return view;
  }
  // Gather each row's samples contiguously, then convert the row as the image readers do.
  view.copy.resize(static_cast<size_t>(rows * columns));
  std::vector<uint8_t> samples(static_cast<size_t>(columns * channels));
  for (py::ssize_t y = 0; y < rows; ++y) {
    const uint8_t* row = base + y * rowStep;
    uint8_t* out = view.copy.data() + y * columns;
    if (channels == 1) {
      for (py::ssize_t x = 0; x < columns; ++x) out[x] = row[x * columnStep];
      continue;
    }
    const uint8_t* interleaved = row;
    if (sampleStep != 1 || columnStep != channels) {
      for (py::ssize_t x = 0; x < columns; ++x)
        for (py::ssize_t c = 0; c < channels; ++c) samples[x * channels + c] = row[x * columnStep + c * sampleStep];
      interleaved = samples.data();
    }
    imageio::interleavedToGrey(interleaved, static_cast<int>(channels), static_cast<size_t>(columns), out);
  }
  view.pixels = view.copy.data();
  view.stride = view.width;
  return view;
}

cimg_imageConst wrapImage(const GreyView& view) {
  cimg_imageConst image;
  check(cimg_imageConst_constructWrap(&image, view.pixels, view.width, view.height, view.stride), "wrapping the image");
  return image;
}

py::array_t<uint8_t> toArray(const cimg_image& image) {
  const cimg_window& w = image.window;
  py::array_t<uint8_t> out({static_cast<py::ssize_t>(w.height), static_cast<py::ssize_t>(w.width)});
  uint8_t* dst = out.mutable_data();
  for (int y = 0; y < w.height; ++y)
    std::memcpy(dst + static_cast<size_t>(y) * w.width, w.pixels + static_cast<ptrdiff_t>(y) * w.stride,
                static_cast<size_t>(w.width));
  return out;
}

template <typename T>
py::array_t<T, py::array::c_style> lineArray(const py::handle& object, const char* name) {
  const py::array a = asArray(object, name);
  requireDtype<T>(a, name);
  if (a.ndim() != 1 || a.shape(0) == 0 || a.shape(0) > std::numeric_limits<int32_t>::max())
    throw py::value_error(std::string(name) + " must be one-dimensional and not empty, got shape " + shapeText(a));
  return py::array_t<T, py::array::c_style>::ensure(a);
}

template py::array_t<uint8_t, py::array::c_style> lineArray<uint8_t>(const py::handle&, const char*);
template py::array_t<uint32_t, py::array::c_style> lineArray<uint32_t>(const py::handle&, const char*);

}  // namespace idutpy
