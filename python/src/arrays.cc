// numpy arrays as Bitmap records, and Bitmap records the library made as numpy arrays.
#include <climits>

#include "common.h"

namespace corvix::python {

std::string shape_text(const py::array &a) {
  std::string s = "(";
  for (py::ssize_t i = 0; i < a.ndim(); ++i) s += (i ? ", " : "") + std::to_string(a.shape(i));
  return s + (a.ndim() == 1 ? ",)" : ")");
}

namespace {

py::array uint8_array(py::handle object, const char *name) {
  if (!py::isinstance<py::array>(object))
    throw py::type_error(std::string(name) + ": expected a numpy array of uint8, got " +
                         std::string(py::str(py::type::of(object).attr("__name__"))));
  auto a = py::reinterpret_borrow<py::array>(object);
  if (!a.dtype().is(py::dtype::of<uint8_t>()))
    throw py::type_error(std::string(name) + ": expected dtype uint8, got " +
                         std::string(py::str(a.dtype())));
  return a;
}

py::array contiguous(const py::array &a) {
  if (a.flags() & py::array::c_style) return a;
  return py::module_::import("numpy").attr("ascontiguousarray")(a);
}

}  // namespace

Image image_arg(py::handle object, const char *name, Pixels pixels, bool writable) {
  py::array a = uint8_array(object, name);
  const std::string want = pixels == Pixels::kColour ? "(H, W, 3)"
                           : pixels == Pixels::kGrey ? "(H, W)"
                                                     : "(H, W, 3) or (H, W)";
  int32_t bpp = 0;
  if (a.ndim() == 2)
    bpp = 1;
  else if (a.ndim() == 3 && a.shape(2) == 3)
    bpp = 3;
  else if (a.ndim() == 3 && a.shape(2) == 1)
    bpp = 1;
  if (bpp == 0 || (pixels == Pixels::kColour && bpp != 3) || (pixels == Pixels::kGrey && bpp != 1))
    throw py::value_error(std::string(name) + ": expected shape " + want + ", got " +
                          shape_text(a));
  if (a.shape(0) > INT32_MAX || a.shape(1) > INT32_MAX)
    throw py::value_error(std::string(name) + ": " + shape_text(a) + " is too large");
  if (writable) {
    if (!(a.flags() & py::array::c_style))
      throw py::value_error(std::string(name) +
                            ": changed in place, so it must be C-contiguous (a slice with steps "
                            "or a transposed view is not; np.ascontiguousarray makes a copy)");
    if (!a.writeable())
      throw py::value_error(std::string(name) +
                            ": the array is read-only, as np.asarray of a Pillow image is; "
                            "np.array(image) makes a writeable copy");
  } else {
    a = contiguous(a);
  }
  Image image;
  image.keep = a;
  image.bitmap.pixels = static_cast<uint8_t *>(const_cast<void *>(a.data()));
  image.bitmap.width = static_cast<int32_t>(a.shape(1));
  image.bitmap.height = static_cast<int32_t>(a.shape(0));
  image.bitmap.bytes_per_pixel = bpp;
  return image;
}

py::array bytes_arg(py::handle object, const char *name, size_t bytes, const std::string &expect) {
  py::array a = contiguous(uint8_array(object, name));
  if (bytes != kAnySize && static_cast<size_t>(a.size()) != bytes)
    throw py::value_error(std::string(name) + ": expected " + expect + " (" +
                          std::to_string(bytes) + " bytes), got shape " + shape_text(a));
  return a;
}

py::array view(uint8_t *data, int32_t width, int32_t height, int32_t bytes_per_pixel,
               py::handle owner) {
  std::vector<py::ssize_t> shape{height, width};
  if (bytes_per_pixel != 1) shape.push_back(bytes_per_pixel);
  return py::array(py::dtype::of<uint8_t>(), shape, {}, data, owner);
}

py::array adopt(Bitmap *made, const std::string &what) {
  if (made == nullptr) raise_reason(what);
  py::capsule owner(made, [](void *b) { gx_freebitmap(static_cast<Bitmap *>(b)); });
  return view(made->pixels, made->width, made->height, made->bytes_per_pixel, owner);
}

}  // namespace corvix::python
