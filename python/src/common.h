// The extension module's shared pieces: how arrays become Bitmap records and back, and how a
// refusal of the library becomes a Python exception.
#ifndef CORVIX_PYTHON_COMMON_H
#define CORVIX_PYTHON_COMMON_H

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "cli/tool.h"
#include "corvix/corvix.h"

namespace corvix::python {

namespace py = pybind11;

// A refusal or failure of the library or a server: raised as corvix.Error.
struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Raises the calling thread's failure reason: MemoryError when memory ran out, otherwise
// corvix.Error with the reason, or with `fallback` when the routine left none.
[[noreturn]] void raise_reason(const std::string &fallback);
[[noreturn]] void raise_memory_error(const std::string &message);
// After a routine that returns nothing: raises when it recorded a reason since `clear`.
void check_reason(const std::string &what);

// Which pixel sizes an argument may have.
enum class Pixels { kColour, kGrey, kEither };

// An image argument: a uint8 array of shape (H, W, 3) (three bytes a pixel) or (H, W) (one
// byte a pixel), seen as a Bitmap record on its memory. `keep` holds the array (or the
// contiguous copy taken of it) for as long as the record is used.
struct Image {
  py::array keep;
  Bitmap bitmap{};
  size_t bytes() const {
    return static_cast<size_t>(bitmap.width) * static_cast<size_t>(bitmap.height) *
           static_cast<size_t>(bitmap.bytes_per_pixel);
  }
};

// `writable`: the routine changes the array in place, so it must be C-contiguous and
// writeable (no copy is taken). Otherwise a non-contiguous array is copied. TypeError for a
// non-array or another dtype, ValueError for a shape, channel count or layout the routine
// cannot take; the message names the argument.
Image image_arg(py::handle object, const char *name, Pixels pixels, bool writable);
constexpr size_t kAnySize = SIZE_MAX;
// A flat or shaped uint8 array of exactly `bytes` bytes (any number for kAnySize), read only (copied when not
// contiguous). `expect` describes the shape wanted, for the message.
py::array bytes_arg(py::handle object, const char *name, size_t bytes, const std::string &expect);
// "(576, 720, 3)"
std::string shape_text(const py::array &a);

// An array over a Bitmap the library made, without a copy: the array owns the record and
// frees it (gx_freebitmap) when it goes. A null bitmap raises the thread's reason.
py::array adopt(Bitmap *made, const std::string &what);
// An array over any memory, kept alive by `owner`.
py::array view(uint8_t *data, int32_t width, int32_t height, int32_t bytes_per_pixel,
               py::handle owner);

// ---- The operations -----------------------------------------------------------------

struct Call {
  py::tuple arrays;    // the image arguments, in the order of Implementation::arrays
  cli::Values values;  // every option checked, fallbacks filled in
  py::dict objects;    // options of kind text given as something else than a string
};

struct Implementation {
  const char *name;                   // the tool's operation
  std::vector<const char *> arrays;   // names of its image arguments
  bool in_place;                      // changes its first image argument and returns it
  std::vector<const char *> derived;  // required options that the arrays can supply instead
  py::object (*run)(Call &);
};

// Every operation that runs in this process.
const std::vector<Implementation> &implementations();

// Checks `options` (table name -> text, or an object for options of kind text) against the
// operation's table entry: ValueError naming the option for a bad value, TypeError for an
// unknown or missing one; fallbacks are filled in.
void prepare(const cli::Operation &op, py::dict options, const std::vector<const char *> &derived,
             Call *call);
// The option values of a checked call as Python objects (int, float, tuples, bool, str).
py::dict typed_values(const cli::Operation &op, const Call &call);

// The three planes of a YUV frame, checked: y of shape (H, W) (or flat with size=(W, H)), u and
// v of H x W / group bytes each.
struct Planes {
  py::array y, u, v;
  int32_t width, height, group;
};
Planes yuv_planes(py::handle y, py::handle u, py::handle v, py::object size, int32_t group);
// Byte 0 and byte 2 of every pixel of a colour array trade places, in place.
void swap_outer(py::handle image);
// The 256-byte pen table of a palette: an array of 1 to 256 colours (R, G, B); entry k is the
// pen nearest cube colour k.
std::vector<uint8_t> palette_pens(py::handle palette);

void bind_host(py::module_ &m);

}  // namespace corvix::python

#endif
