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

// The drawing operations: the shape between --from and --to, in --colour, drawn onto the image.
template <typename Draw>
void draw_shape(Job &job, Draw draw) {
  const Values &v = job.values();
  BitmapPtr image = read_image(job.input(), Accept::kColourOrGrey);
  check_binary_output(job.output());
  draw(image.get(), v.point("from"), v.point("to"), v.colour("colour"));
  write_image(*image, job.output());
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
  write_new(gx_cutbitmap(image.get(), r.x, r.y, r.right(), r.bottom()), "cut",
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

void run_blit(Job &job) {
  const Values &v = job.values();
  const bool transparency = v.has("transparency"), alpha = v.has("alpha"), scaled = v.has("size"),
             mask = v.has("mask"), light = v.has("light");
  if (transparency + alpha + (scaled || mask || light) > 1)
    throw UsageError(
        "--transparency, --alpha and the scaled blits (--size, --mask, --light) "
        "exclude one another");
  if (mask && light) throw UsageError("--mask and --light exclude one another");
  BitmapPtr dest = read_image(job.input(0), Accept::kColourOrGrey);
  BitmapPtr src = read_image(job.input(1), Accept::kColourOrGrey);
  check_binary_output(job.output());
  if (src->bytes_per_pixel != dest->bytes_per_pixel)
    throw Failure("'" + job.input(1) + "' and '" + job.input(0) +
                  "' must both be colour PPMs or both one-byte PGMs");
  if ((scaled || mask || light) && dest->bytes_per_pixel != 3)
    throw Failure("the scaled blits draw colour images only");
  const Point at = v.point("at");
  if (light) {
    if (src->width != 256 || src->height != 256)
      throw UsageError("a light map is 256x256 pixels; '" + job.input(1) + "' is " +
                       std::to_string(src->width) + "x" + std::to_string(src->height));
    const Size size = scaled ? v.size("size") : Size{256, 256};
    const Colour f = v.colour("light");
    gx_scaledlightblit(dest.get(), src->pixels, at.x, at.y, size.width, size.height, f.red, f.green,
                       f.blue);
  } else if (scaled || mask) {
    const Size size = scaled ? v.size("size") : Size{src->width, src->height};
    if (mask)
      gx_scaledmaskblit(dest.get(), src->width, src->height, src->pixels, at.x, at.y, size.width,
                        size.height, v.integer("mask"));
    else
      gx_scaledblit(dest.get(), src->width, src->height, src->pixels, at.x, at.y, size.width,
                    size.height);
  } else if (transparency) {
    gx_blitbitmaptrans(dest.get(), src.get(), at.x, at.y, v.integer("transparency"));
  } else if (alpha) {
    gx_transalphachunkyblit(dest.get(), src->width, src->height, src->pixels, at.x, at.y,
                            v.integer("alpha"));
  } else {
    gx_blitbitmap(dest.get(), src.get(), at.x, at.y);
  }
  write_image(*dest, job.output());
}

void run_line(Job &job) {
  draw_shape(job, [](Bitmap *image, Point from, Point to, Colour c) {
    gx_drawline(image, from.x, from.y, to.x, to.y, c.red, c.green, c.blue);
  });
}

void run_box(Job &job) {
  draw_shape(job, [&job](Bitmap *image, Point from, Point to, Colour c) {
    gx_drawbox(image, from.x, from.y, to.x, to.y, c.red, c.green, c.blue,
               job.values().integer("step"));
  });
}

}  // namespace corvix::cli
