// Operations of the graphics library that no server command performs: they run in this
// process on the loaded image.
#include <string>

#include "cli/ops.h"

namespace corvix::cli {
namespace {

// Writes the result of a routine that makes a new bitmap; null means it made none.
void write_new(Bitmap *made, const char *what, const std::string &output) {
  BitmapPtr result(made);
  if (!result)
    throw Failure(std::string(what) +
                  " made no image (out of memory, or the result "
                  "would be too large)");
  write_image(*result, output);
}

}  // namespace

void run_rotate(Job &job) {
  const Values &v = job.values();
  BitmapPtr image = read_image(job.input(), Accept::kColourOrGrey);
  check_binary_output(job.output());
  const Colour bg = v.colour("background");
  const auto angle = static_cast<float>(v.number("angle"));
  write_new(gx_rotatebitmap(image.get(), bg.red, bg.green, bg.blue, angle), "rotate", job.output());
}

void run_shear(Job &job) {
  const Values &v = job.values();
  BitmapPtr image = read_image(job.input(), Accept::kColour);
  check_binary_output(job.output());
  // Without --rows the band is the whole image.
  const Range rows = v.has("rows") ? v.range("rows") : Range{0, image->height - 1};
  const Range shift = v.range("shift");
  if (shift.low < 0 || shift.high < 0) throw UsageError("--shift: both shifts must be 0 or more");
  const Colour bg = v.colour("background");
  if (gx_shearbitmap(image.get(), rows.low, rows.high, shift.low, shift.high, bg.red, bg.green,
                     bg.blue) != 1) {
    throw Failure("shear failed (out of memory, or the widened image would be too large)");
  }
  write_image(*image, job.output());
}

void run_transpose(Job &job) {
  BitmapPtr image = read_image(job.input(), Accept::kColour);
  check_binary_output(job.output());
  if (gx_transposebitmap(image.get()) != 1) throw Failure("transpose failed (out of memory)");
  write_image(*image, job.output());
}

void run_cut(Job &job) {
  const Rect r = job.values().rect("rect");
  BitmapPtr image = read_image(job.input(), Accept::kColourOrGrey);
  check_binary_output(job.output());
  write_new(gx_cutbitmap(image.get(), r.x, r.y, r.x + r.width - 1, r.y + r.height - 1), "cut",
            job.output());
}

void run_smooth(Job &job) {
  BitmapPtr image = read_image(job.input(), Accept::kColour);
  check_binary_output(job.output());
  if (gx_smoothbitmap(image.get(), job.values().integer("passes")) != 1)
    throw Failure("smooth failed (out of memory)");
  write_image(*image, job.output());
}

void run_dither(Job &job) {
  BitmapPtr image = read_image(job.input(), Accept::kColour);
  check_binary_output(job.output());
  write_new(gx_dither(image.get(), job.values().integer("method")), "dither", job.output());
}

}  // namespace corvix::cli
