// Fourier spectra for Python: transforms of uint8 arrays into float64 or complex128 arrays, the
// quadrant shift and the 8-bit view of a spectrum.
#include <complex>
#include <cstring>
#include <optional>

#include "ci_id/spectra.h"
#include "idut_python.hpp"

namespace idutpy {

namespace {

struct Spectrum {
  cimg_imageDouble image;
  Spectrum() { cimg_imageDouble_constructUnbound(&image); }
  ~Spectrum() { cimg_imageDouble_destruct(&image); }
  Spectrum(const Spectrum&) = delete;
  Spectrum& operator=(const Spectrum&) = delete;
};

py::array_t<double> toArray(const cimg_imageDouble& image) {
  const cimg_windowDouble& w = image.window;
  py::array_t<double> out({static_cast<py::ssize_t>(w.height), static_cast<py::ssize_t>(w.width)});
  for (int y = 0; y < w.height; ++y)
    std::memcpy(out.mutable_data(y, 0), w.pixels + static_cast<ptrdiff_t>(y) * w.stride, sizeof(double) * w.width);
  return out;
}

// A float64 array as a spectrum image: wrapped when C-contiguous, else copied by numpy.
struct SpectrumView {
  py::array_t<double, py::array::c_style | py::array::forcecast> array;
  cimg_imageDouble image;
  explicit SpectrumView(const py::handle& object) {
    if (!py::isinstance<py::array>(object) ||
        !py::reinterpret_borrow<py::array>(object).dtype().equal(py::dtype::of<double>()))
      throw py::type_error("spectrum must be a float64 numpy array");
    array = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(object);
    if (array.ndim() != 2 || array.shape(0) == 0 || array.shape(1) == 0)
      throw py::value_error("spectrum must be a non-empty 2D array");
    check(cimg_imageDouble_constructWrap(&image, const_cast<double*>(array.data()), static_cast<int32_t>(array.shape(1)),
                                         static_cast<int32_t>(array.shape(0)), static_cast<int32_t>(array.shape(1))),
          "wrapping the spectrum");
  }
  ~SpectrumView() { cimg_imageDouble_destruct(&image); }
  SpectrumView(const SpectrumView&) = delete;
  SpectrumView& operator=(const SpectrumView&) = delete;
};

int fftMode(const py::object& output) {
  const std::string name = textArg(output, "output");
  if (name == "complex") return CIDUT_FFT_COMPLEX;
  if (name == "amplitude") return CIDUT_FFT_AMPLITUDE;
  if (name == "power") return CIDUT_FFT_POWER;
  if (name == "log_power") return CIDUT_FFT_LOG_POWER;
  throw py::value_error("output must be 'complex', 'amplitude', 'power' or 'log_power', got '" + name + "'");
}

// The integer transform: int32 values, (re, im) pairs along a last axis of 2 in complex mode.
py::array_t<int32_t> integerFft(const GreyView& view, int mode, bool rowsOnly) {
  cimg_imageConst source = wrapImage(view);
  cimg_imageInt32 result;
  cimg_imageInt32_constructUnbound(&result);
  csys_status status;
  {
    py::gil_scoped_release released;
    status = cfPelFFTBin(&source, &result, mode, rowsOnly ? CIDUT_FFT_ROWS : CIDUT_FFT_2D);
  }
  py::array_t<int32_t> out;
  if (!CSYS_FAILED(status)) {
    const cimg_windowInt32& w = result.window;
    const py::ssize_t columns = mode == CIDUT_FFT_COMPLEX ? w.width / 2 : w.width;
    out = mode == CIDUT_FFT_COMPLEX ? py::array_t<int32_t>({py::ssize_t{w.height}, columns, py::ssize_t{2}})
                                    : py::array_t<int32_t>({py::ssize_t{w.height}, columns});
    for (int y = 0; y < w.height; ++y)
      std::memcpy(out.mutable_data() + static_cast<ptrdiff_t>(y) * w.width,
                  w.pixels + static_cast<ptrdiff_t>(y) * w.stride, sizeof(int32_t) * w.width);
  }
  cimg_imageInt32_destruct(&result);
  cimg_imageConst_destruct(&source);
  check(status, "fft");
  return out;
}

py::array fft(const py::handle& image, const py::object& output, const py::object& rowsOnlyArg,
              const py::object& integerArg) {
  const int mode = fftMode(output);
  const bool rowsOnly = boolArg(rowsOnlyArg, "rows_only"), integer = boolArg(integerArg, "integer");
  const GreyView view = greyView(image, "image");
  if (integer) return integerFft(view, mode, rowsOnly);
  cimg_imageConst source = wrapImage(view);
  Spectrum result;
  csys_status status;
  {
    py::gil_scoped_release released;
    status = cfPelFFT(&source, &result.image, mode, rowsOnly ? CIDUT_FFT_ROWS : CIDUT_FFT_2D);
  }
  cimg_imageConst_destruct(&source);
  check(status, "fft");
  py::array_t<double> values = toArray(result.image);
  if (mode != CIDUT_FFT_COMPLEX) return values;
  // Interleaved (re, im) rows read as complex numbers.
  py::array_t<std::complex<double>> complex({static_cast<py::ssize_t>(view.height), static_cast<py::ssize_t>(view.width)});
  const double* v = values.data();
  std::complex<double>* c = complex.mutable_data();
  for (size_t i = 0, n = static_cast<size_t>(view.width) * view.height; i < n; ++i) c[i] = {v[2 * i], v[2 * i + 1]};
  return complex;
}

py::array_t<std::complex<double>> rowDft(const py::handle& line) {
  const auto samples = lineArray<uint8_t>(line, "line");
  const int32_t n = static_cast<int32_t>(samples.shape(0));
  std::vector<double> re(static_cast<size_t>(n)), im(static_cast<size_t>(n));
  check(cfRowDFT(samples.data(), re.data(), im.data(), n), "dft");
  py::array_t<std::complex<double>> out(n);
  for (int32_t k = 0; k < n; ++k) out.mutable_data()[k] = {re[k], im[k]};
  return out;
}

py::array_t<std::complex<double>> dft(const py::handle& image) {
  if (py::isinstance<py::array>(image) && py::reinterpret_borrow<py::array>(image).ndim() == 1) return rowDft(image);
  const GreyView view = greyView(image, "image");
  const size_t n = static_cast<size_t>(view.width) * view.height;
  std::vector<double> re(n), im(n);
  csys_status status;
  {
    py::gil_scoped_release released;
    status = cf2DDFT(view.pixels, view.stride, view.height, view.width, re.data(), im.data());
  }
  check(status, "dft");
  py::array_t<std::complex<double>> out({static_cast<py::ssize_t>(view.height), static_cast<py::ssize_t>(view.width)});
  for (size_t i = 0; i < n; ++i) out.mutable_data()[i] = {re[i], im[i]};
  return out;
}

// Amplitude of the direct DFT, all of it or (with limits) only near frequency 0.
py::array_t<double> amplitude(const py::handle& image, const py::object& columnLimitArg,
                              const py::object& frequencyLimitArg) {
  if (columnLimitArg.is_none() != frequencyLimitArg.is_none())
    throw py::value_error("column_limit and frequency_limit go together");
  // Limits past the image's sides give the whole spectrum.
  std::optional<int32_t> columnLimit, frequencyLimit;
  if (!columnLimitArg.is_none()) {
    columnLimit = int32Arg(columnLimitArg, "column_limit", 0, INT32_MAX);
    frequencyLimit = int32Arg(frequencyLimitArg, "frequency_limit", 0, INT32_MAX);
  }
  const GreyView view = greyView(image, "image");
  cimg_imageConst source = wrapImage(view);
  Spectrum result;
  csys_status status = columnLimit ? cimg_imageDouble_construct(&result.image, view.width, view.height) : 0;
  if (!CSYS_FAILED(status)) {
    py::gil_scoped_release released;
    status = columnLimit ? cfLimitedPelPowerSpectrum(&source, *columnLimit, *frequencyLimit, &result.image)
                         : cfPowerSpectrum(&source, &result.image);
  }
  cimg_imageConst_destruct(&source);
  check(status, "amplitude_spectrum");
  return toArray(result.image);
}

py::array_t<double> fftShift(const py::handle& spectrum) {
  const SpectrumView source(spectrum);
  Spectrum out;
  check(cfFFTShift(&source.image, &out.image), "fft_shift");
  return toArray(out.image);
}

py::array_t<uint8_t> viewable(const py::handle& spectrum) {
  const SpectrumView source(spectrum);
  cimg_image out;
  cimg_image_constructUnbound(&out);
  const csys_status status = cfViewableFFT(&source.image, &out);
  py::array_t<uint8_t> view;
  if (!CSYS_FAILED(status)) view = idutpy::toArray(out);
  cimg_image_destruct(&out);
  check(status, "viewable_spectrum");
  return view;
}

// The fixed-size transforms over a complex128 array of 16 x 16 or 32 x 32 (interleaved re, im).
py::array_t<std::complex<double>> fixedFft(const py::handle& values, const py::object& inverseArg) {
  const bool inverse = boolArg(inverseArg, "inverse");
  if (!py::isinstance<py::array>(values) ||
      !py::reinterpret_borrow<py::array>(values).dtype().equal(py::dtype::of<std::complex<double>>()))
    throw py::type_error("values must be a complex128 numpy array");
  const auto in = py::array_t<std::complex<double>, py::array::c_style>::ensure(values);
  const py::ssize_t side = in.ndim() == 2 && in.shape(0) == in.shape(1) ? in.shape(0) : 0;
  if (side != 16 && side != 32) throw py::value_error("values must have shape (16, 16) or (32, 32)");
  using Transform = csys_status (*)(const void*, void*, int32_t);
  const Transform transform = side == 16 ? (inverse ? cf2DIFFT_16x16_fixed : cf2DFFT_16x16_fixed)
                                         : (inverse ? cf2DIFFT_32x32_fixed : cf2DFFT_32x32_fixed);
  py::array_t<std::complex<double>> out({side, side});
  check(transform(in.data(), out.mutable_data(), 0), inverse ? "fft_fixed (inverse)" : "fft_fixed");
  return out;
}

}  // namespace

void defineSpectra(py::module_& m) {
  m.def("fft", &fft, py::arg("image"), py::arg("output") = py::str("complex"),
        py::arg("rows_only") = py::bool_(false), py::kw_only(), py::arg("integer") = py::bool_(false),
        "Unscaled forward FFT of an image whose sides are powers of two from 2 to 1024 (with rows_only, "
        "each row on its own: only the width). output 'complex' gives a complex128 array, 'amplitude', "
        "'power' or 'log_power' (log(power + 1e-10)) a float64 array; element [v, u] holds vertical "
        "frequency v and horizontal frequency u. With integer, the fixed-point transform (factors of 16 "
        "fraction bits, each product rounded) as int32: (re, im) along a last axis of 2 for 'complex', "
        "power saturated at 2**31 - 1, amplitude the low 16 bits of the integer root, log_power rounded.");
  m.def("amplitude_spectrum", &amplitude, py::arg("image"), py::arg("column_limit") = py::none(),
        py::arg("frequency_limit") = py::none(),
        "Amplitude |DFT| of an image of any size (float64, direct transform). With both limits, only "
        "horizontal frequencies below column_limit or from width - column_limit, and of those only "
        "vertical ones below frequency_limit or from height - frequency_limit; the rest 0.");
  m.def("fft_fixed", &fixedFft, py::arg("values"), py::arg("inverse") = py::bool_(false),
        "The library's fixed-size 2D transforms of a (16, 16) or (32, 32) complex128 array. This build "
        "of the library does not provide them: they raise idut.Error cidut_errNotOptimized, so use fft.");
  m.def("dft", &dft, py::arg("image"),
        "The direct DFT (complex128) of an image of any size, or of a 1D uint8 line; costs N^2 per row.");
  m.def("fft_shift", &fftShift, py::arg("spectrum"), "A float64 spectrum with frequency 0 moved to [h // 2, w // 2].");
  m.def("viewable_spectrum", &viewable, py::arg("spectrum"),
        "A float64 spectrum as uint8: (value - min) * 255 / (max - min), truncated; a constant one is 0.");
}

}  // namespace idutpy
