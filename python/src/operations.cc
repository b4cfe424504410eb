// The operations, in this process, on the library's routines. Each checks its arrays before
// touching anything, so a refused call leaves every array as it was; routines run with the GIL
// released.
#include <cstdlib>
#include <cstring>

#include "colour/rgbtoyuv.h"
#include "common.h"

namespace corvix::python {
namespace {

using Release = py::gil_scoped_release;

Image arg(Call &c, size_t i, const char *name, Pixels pixels, bool writable) {
  return image_arg(c.arrays[i], name, pixels, writable);
}

// Runs a routine that changes an image in place and returns nothing; raises its reason.
template <class F>
py::object in_place(const Image &image, const std::string &what, F routine) {
  {
    Release free;
    corvix_clear_error();
    routine();
  }
  check_reason(what);
  return image.keep;
}

template <class F>
py::object made(const std::string &what, F routine) {
  Bitmap *result;
  {
    Release free;
    corvix_clear_error();
    result = routine();
  }
  return adopt(result, what);
}

void same_frames(const Image &a, const Image &b, const char *first, const char *second) {
  if (a.bitmap.width != b.bitmap.width || a.bitmap.height != b.bitmap.height ||
      a.bitmap.bytes_per_pixel != b.bitmap.bytes_per_pixel)
    throw py::value_error(std::string(second) + ": expected the shape of " + first + " " +
                          shape_text(a.keep) + ", got " + shape_text(b.keep));
}

int32_t chroma_group(const cli::Values &v) { return std::atoi(v.text("chroma").c_str()); }

// ---- Video frames -----------------------------------------------------------------------

}  // namespace

Planes yuv_planes(py::handle y_object, py::handle u_object, py::handle v_object, py::object size,
                  int32_t group) {
  py::array y = bytes_arg(y_object, "y", kAnySize, "a plane");
  int64_t width, height;
  if (y.ndim() == 2) {
    height = y.shape(0);
    width = y.shape(1);
    if (!size.is_none() && (py::cast<int64_t>(size[py::int_(0)]) != width ||
                            py::cast<int64_t>(size[py::int_(1)]) != height))
      throw py::value_error("size: " + std::string(py::str(size)) + " differs from y's shape " +
                            shape_text(y));
  } else if (!size.is_none()) {
    width = py::cast<int64_t>(size[py::int_(0)]);
    height = py::cast<int64_t>(size[py::int_(1)]);
  } else {
    throw py::type_error("yuv2rgb() needs size=(W, H) when y is not of shape (H, W)");
  }
  if (width % group != 0)
    throw py::value_error("y: the width " + std::to_string(width) +
                          " is not a multiple of chroma " + std::to_string(group));
  const size_t luma = static_cast<size_t>(width) * static_cast<size_t>(height);
  if (luma > INT32_MAX / 3) throw py::value_error("y: the frame is too large");
  if (static_cast<size_t>(y.size()) != luma)
    throw py::value_error("y: expected " + std::to_string(luma) + " bytes, got shape " +
                          shape_text(y));
  const std::string plane = "shape (H, W/" + std::to_string(group) + ")";
  Planes p{y,
           bytes_arg(u_object, "u", luma / group, plane),
           bytes_arg(v_object, "v", luma / group, plane),
           static_cast<int32_t>(width),
           static_cast<int32_t>(height),
           group};
  return p;
}

void swap_outer(py::handle object) {
  Image im = image_arg(object, "image", Pixels::kColour, true);
  Release free;
  uint8_t *p = im.bitmap.pixels;
  const size_t pixels = im.bytes() / 3;
  for (size_t i = 0; i < pixels; ++i, p += 3) {
    const uint8_t t = p[0];
    p[0] = p[2];
    p[2] = t;
  }
}

namespace {

py::object yuv2rgb(Call &c) {
  const cli::Values &v = c.values;
  const Planes planes = yuv_planes(
      c.arrays[0], c.arrays[1], c.arrays[2],
      v.has("size") ? py::object(py::make_tuple(v.size("size").width, v.size("size").height))
                    : py::object(py::none()),
      chroma_group(v));
  const int32_t width = planes.width, height = planes.height, group = planes.group;
  const size_t luma = static_cast<size_t>(width) * static_cast<size_t>(height);
  const py::array &y = planes.y, &u = planes.u, &vv = planes.v;
  const auto *py_ = static_cast<const uint8_t *>(y.data());
  const auto *pu = static_cast<const uint8_t *>(u.data());
  const auto *pv = static_cast<const uint8_t *>(vv.data());
  const bool raw = v.flag("raw");
  Bitmap *result;
  {
    Release free;
    corvix_clear_error();
    if (v.has("resize")) {
      const cli::Size to = v.size("resize");
      // The Cr (V) plane goes in second: byte 0 comes out blue.
      result = fx_yuvscale_ll(py_, pv, pu, width, height, to.width, to.height, group);
    } else {
      result = gx_allocrawbitmap(width, height, 3);
      if (result != nullptr)
        fx_yuvtorgb_ll(py_, pv, pu, result->pixels, static_cast<uint32_t>(luma),
                       static_cast<uint32_t>(group));
    }
  }
  py::array out = adopt(result, "yuv2rgb made no image");
  if (!raw) swap_outer(out);
  return out;
}

py::object rgb2yuv(Call &c) {
  Image in = arg(c, 0, "image", Pixels::kColour, false);
  const int32_t group = chroma_group(c.values);
  const int32_t w = in.bitmap.width, h = in.bitmap.height;
  if (w % group != 0)
    throw py::value_error("image: the width " + std::to_string(w) +
                          " is not a multiple of chroma " + std::to_string(group));
  py::array_t<uint8_t> y({h, w}), cb({h, w / group}), cr({h, w / group});
  const size_t count = static_cast<size_t>(w) * static_cast<size_t>(h);
  uint8_t *py_ = y.mutable_data(), *pb = cb.mutable_data(), *pr = cr.mutable_data();
  if (count > 0) {
    Release free;
    rgb_to_yuv_planes(in.bitmap.pixels, count, static_cast<uint32_t>(group), py_, pb, pr);
  }
  return py::make_tuple(y, cb, cr);
}

py::object scale(Call &c) {
  Image in = arg(c, 0, "image", Pixels::kEither, false);
  const cli::Size to = c.values.size("size");
  const Bitmap *b = &in.bitmap;
  return made("scale made no image", [&] {
    return b->bytes_per_pixel == 3 ? gx_scalecopybitmap(b, to.width, to.height)
                                   : cvx_scale_ll(b, to.width, to.height);
  });
}

// A screen's pens: the palette's pixels in reading order are pens 0, 1, 2, ... Entry k of the
// 256-byte table is the pen nearest cube colour k.
std::vector<uint8_t> pen_table(Call &c) {
  py::object given =
      c.objects.contains("palette") ? py::object(c.objects["palette"]) : py::object(py::none());
  if (given.is_none()) {
    if (!c.values.has("palette")) return {};
    given = py::module_::import("corvix").attr("load")(c.values.text("palette"));
  }
  return palette_pens(given);
}

}  // namespace

std::vector<uint8_t> palette_pens(py::handle given) {
  py::array p = bytes_arg(given, "palette", kAnySize, "pens as (N, 3)");
  if (p.size() == 0 || p.size() % 3 != 0 || p.size() > 3 * 256)
    throw py::value_error("palette: expected 1 to 256 colours of 3 bytes, got shape " +
                          shape_text(p));
  const auto *rgb = static_cast<const uint8_t *>(p.data());
  const auto count = static_cast<int32_t>(p.size() / 3);
  corvix_clear_error();
  ColorMap *map = corvix_colormap_create(rgb, count);
  if (map == nullptr) raise_reason("no colour map for the palette");
  uint8_t *table = gx_allocpalette(map);
  corvix_colormap_free(map);
  if (table == nullptr) raise_reason("no pen table for the palette");
  std::vector<uint8_t> out(256, 0);
  std::memcpy(out.data(), table, 216);
  gx_freepalette(table);
  return out;
}

namespace {

py::object remap(Call &c) {
  Image in = arg(c, 0, "image", Pixels::kColour, false);
  const std::vector<uint8_t> pens = pen_table(c);
  const uint8_t *table = pens.empty() ? nullptr : pens.data();
  const Bitmap *b = &in.bitmap;
  return made("remap made no image", [&] {
    Bitmap *out = gx_allocrawbitmap(b->width, b->height, 1);
    if (out != nullptr)
      gx_remap24(b->pixels, out->pixels, table, static_cast<uint32_t>(in.bytes()));
    return out;
  });
}

py::object pens(Call &c) {
  Image frame = arg(c, 0, "frame", Pixels::kGrey, true);
  const std::vector<uint8_t> table = pen_table(c);
  const size_t n = frame.bytes();
  for (size_t i = 0; i < n; ++i)
    if (frame.bitmap.pixels[i] > 215)
      throw py::value_error("frame: holds " + std::to_string(frame.bitmap.pixels[i]) +
                            ", which is no cube index (0..215)");
  return in_place(frame, "pens",
                  [&] { gx_remap8(frame.bitmap.pixels, table.data(), static_cast<uint32_t>(n)); });
}

// ---- Levels -------------------------------------------------------------------------------

py::object correct(Call &c) {
  Image im = arg(c, 0, "image", Pixels::kEither, true);
  const cli::Values &v = c.values;
  const int32_t contrast = v.integer("contrast"), offset = v.integer("brightness"),
                invert = v.flag("negative") ? 1 : 0;
  return in_place(im, "correct", [&] { cvx_correct_ll(&im.bitmap, contrast, offset, invert); });
}

py::object fade(Call &c) {
  Image a = arg(c, 0, "a", Pixels::kEither, false), b = arg(c, 1, "b", Pixels::kEither, false);
  same_frames(a, b, "a", "b");
  const int32_t level = c.values.integer("level");
  return made("fade made no image", [&] {
    const Bitmap &x = a.bitmap;
    Bitmap *out = gx_allocrawbitmap(x.width, x.height, x.bytes_per_pixel);
    if (out != nullptr)
      cvx_fadeover_ll(x.pixels, b.bitmap.pixels, out->pixels, level, x.width, x.height,
                      x.bytes_per_pixel);
    return out;
  });
}

py::object raise_levels(Call &c) {
  Image im = arg(c, 0, "image", Pixels::kEither, true);
  const int32_t level = c.values.integer("level");
  return in_place(im, "raise", [&] { cvx_specialfade_ll(&im.bitmap, level); });
}

py::object fadeover(Call &c) {
  Image a = arg(c, 0, "a", Pixels::kEither, true), b = arg(c, 1, "b", Pixels::kEither, false);
  same_frames(a, b, "a", "b");
  const int32_t level = c.values.integer("level");
  return in_place(a, "fadeover",
                  [&] { cvx_specialfadeover_ll(&a.bitmap, b.bitmap.pixels, level); });
}

py::object deinterlace(Call &c) {
  Image im = arg(c, 0, "image", Pixels::kColour, true);
  return in_place(im, "deinterlace", [&] { cvx_deinterlace_ll(&im.bitmap); });
}

py::object turn(Call &c) {
  Image in = arg(c, 0, "image", Pixels::kColour, false);
  const std::string &angle = c.values.text("angle");
  const int32_t code = angle == "90" ? 0 : angle == "180" ? 1 : 2;
  return made("turn made no image", [&] { return fxx_rotangle_ll(&in.bitmap, code); });
}

py::object mirror(Call &c) {
  const bool vertical = c.values.flag("vertical"), horizontal = c.values.flag("horizontal");
  if (!vertical && !horizontal)
    throw py::value_error("mirror(): give vertical=True, horizontal=True or both");
  Image im = arg(c, 0, "image", Pixels::kColour, true);
  return in_place(im, "mirror", [&] { fxx_mirror_ll(&im.bitmap, vertical, horizontal); });
}

py::object invert(Call &c) {
  Image im = arg(c, 0, "image", Pixels::kEither, true);
  return in_place(im, "invert", [&] { fxx_invert_ll(&im.bitmap); });
}

py::object levels(Call &c) {
  Image in = arg(c, 0, "image", Pixels::kColour, false);
  static const char *const kChannels[] = {"average", "red", "green", "blue"};
  auto range = [&](int32_t channel) {
    LevelRange *r;
    {
      Release free;
      corvix_clear_error();
      r = fxx_findminmax_ll(&in.bitmap, channel);
    }
    if (r == nullptr) raise_reason("levels");
    const py::tuple t = py::make_tuple(r->minimum, r->maximum);
    PPCFreeVec(r);
    return t;
  };
  if (c.values.has("channel")) {
    const std::string &name = c.values.text("channel");
    for (int32_t s = 0; s < 4; ++s)
      if (name == kChannels[s]) return range(s);
  }
  py::dict all;
  for (int32_t s : {1, 2, 3, 0}) all[kChannels[s]] = range(s);
  return all;
}

py::object stretch(Call &c) {
  int32_t bounds[8];
  int i = 0;
  for (const char *name : {"red", "green", "blue", "master"}) {
    const cli::Range r = c.values.range(name);
    // The stretch computes (high - low) x 255 in 32 bits.
    if (std::abs(int64_t{r.low}) > 4000000 || std::abs(int64_t{r.high}) > 4000000)
      throw py::value_error(std::string(name) + ": bounds must lie within -4000000..4000000");
    bounds[i++] = r.low;
    bounds[i++] = r.high;
  }
  Image im = arg(c, 0, "image", Pixels::kColour, true);
  return in_place(im, "stretch", [&] {
    fxx_minmax_ll(&im.bitmap, bounds[0], bounds[1], bounds[2], bounds[3], bounds[4], bounds[5],
                  bounds[6], bounds[7]);
  });
}

py::object autolevel(Call &c) {
  Image im = arg(c, 0, "image", Pixels::kColour, true);
  return in_place(im, "autolevel", [&] { fxx_min_max_ll(&im.bitmap); });
}

// ---- Geometry -----------------------------------------------------------------------------

py::object rotate(Call &c) {
  Image in = arg(c, 0, "image", Pixels::kEither, false);
  const cli::Colour bg = c.values.colour("background");
  const auto angle = static_cast<float>(c.values.number("angle"));
  return made("rotate made no image",
              [&] { return gx_rotatebitmap(&in.bitmap, bg.red, bg.green, bg.blue, angle); });
}

// The routines that give a bitmap a new pixel buffer work on a copy made by the library.
template <class F>
py::object on_copy(const Image &in, const std::string &what, F routine) {
  return made(what, [&]() -> Bitmap * {
    Bitmap *copy = gx_clonebitmap(&in.bitmap);
    if (copy != nullptr && routine(copy) != 1) {
      gx_freebitmap(copy);
      return nullptr;
    }
    return copy;
  });
}

py::object shear(Call &c) {
  Image in = arg(c, 0, "image", Pixels::kColour, false);
  const cli::Values &v = c.values;
  const cli::Range rows = v.has("rows") ? v.range("rows") : cli::Range{0, in.bitmap.height - 1};
  const cli::Range shift = v.range("shift");
  if (shift.low < 0 || shift.high < 0)
    throw py::value_error("shift: both shifts must be 0 or more");
  const cli::Colour bg = v.colour("background");
  return on_copy(in, "shear", [&](Bitmap *b) {
    return gx_shearbitmap(b, rows.low, rows.high, shift.low, shift.high, bg.red, bg.green, bg.blue);
  });
}

py::object transpose(Call &c) {
  Image in = arg(c, 0, "image", Pixels::kColour, false);
  return on_copy(in, "transpose", [](Bitmap *b) { return gx_transposebitmap(b); });
}

py::object cut(Call &c) {
  Image in = arg(c, 0, "image", Pixels::kEither, false);
  const cli::Rect r = c.values.rect("rect");
  return made("cut made no image",
              [&] { return gx_cutbitmap(&in.bitmap, r.x, r.y, r.right(), r.bottom()); });
}

py::object smooth(Call &c) {
  Image in = arg(c, 0, "image", Pixels::kColour, false);
  const int32_t passes = c.values.integer("passes");
  return on_copy(in, "smooth", [&](Bitmap *b) { return gx_smoothbitmap(b, passes); });
}

py::object dither(Call &c) {
  Image in = arg(c, 0, "image", Pixels::kColour, false);
  const int32_t method = c.values.integer("method");
  return made("dither made no image", [&] { return gx_dither(&in.bitmap, method); });
}

// ---- Drawing ------------------------------------------------------------------------------

py::object blit(Call &c) {
  const cli::Values &v = c.values;
  const bool transparency = v.has("transparency"), alpha = v.has("alpha"), scaled = v.has("size"),
             mask = v.has("mask"), light = v.has("light");
  if (transparency + alpha + (scaled || mask || light) > 1)
    throw py::value_error(
        "blit(): transparency, alpha and the scaled blits (size, mask, light) exclude one "
        "another");
  if (mask && light) throw py::value_error("blit(): mask and light exclude one another");
  const bool colour_only = scaled || mask || light;
  Image dest = arg(c, 0, "dest", colour_only ? Pixels::kColour : Pixels::kEither, true);
  Image src = arg(c, 1, "src", colour_only ? Pixels::kColour : Pixels::kEither, false);
  if (src.bitmap.bytes_per_pixel != dest.bitmap.bytes_per_pixel)
    throw py::value_error("src: expected as many channels as dest " + shape_text(dest.keep) +
                          ", got " + shape_text(src.keep));
  if (light && (src.bitmap.width != 256 || src.bitmap.height != 256))
    throw py::value_error("src: a light map is of shape (256, 256, 3), got " +
                          shape_text(src.keep));
  const cli::Point at = v.point("at");
  Bitmap *d = &dest.bitmap;
  const Bitmap *s = &src.bitmap;
  return in_place(dest, "blit", [&] {
    if (light) {
      const cli::Size size = scaled ? v.size("size") : cli::Size{256, 256};
      const cli::Colour f = v.colour("light");
      gx_scaledlightblit(d, s->pixels, at.x, at.y, size.width, size.height, f.red, f.green, f.blue);
    } else if (scaled || mask) {
      const cli::Size size = scaled ? v.size("size") : cli::Size{s->width, s->height};
      if (mask)
        gx_scaledmaskblit(d, s->width, s->height, s->pixels, at.x, at.y, size.width, size.height,
                          v.integer("mask"));
      else
        gx_scaledblit(d, s->width, s->height, s->pixels, at.x, at.y, size.width, size.height);
    } else if (transparency) {
      gx_blitbitmaptrans(d, s, at.x, at.y, v.integer("transparency"));
    } else if (alpha) {
      gx_transalphachunkyblit(d, s->width, s->height, s->pixels, at.x, at.y, v.integer("alpha"));
    } else {
      gx_blitbitmap(d, s, at.x, at.y);
    }
  });
}

py::object line(Call &c) {
  Image im = arg(c, 0, "image", Pixels::kEither, true);
  const cli::Point from = c.values.point("from"), to = c.values.point("to");
  const cli::Colour col = c.values.colour("colour");
  return in_place(im, "line", [&] {
    gx_drawline(&im.bitmap, from.x, from.y, to.x, to.y, col.red, col.green, col.blue);
  });
}

py::object box(Call &c) {
  Image im = arg(c, 0, "image", Pixels::kEither, true);
  const cli::Point from = c.values.point("from"), to = c.values.point("to");
  const cli::Colour col = c.values.colour("colour");
  const int32_t step = c.values.integer("step");
  return in_place(im, "box", [&] {
    gx_drawbox(&im.bitmap, from.x, from.y, to.x, to.y, col.red, col.green, col.blue, step);
  });
}

}  // namespace

const std::vector<Implementation> &implementations() {
  static const std::vector<Implementation> table = {
      {"yuv2rgb", {"y", "u", "v"}, false, {"size"}, yuv2rgb},
      {"rgb2yuv", {"image"}, false, {}, rgb2yuv},
      {"scale", {"image"}, false, {}, scale},
      {"remap", {"image"}, false, {}, remap},
      {"pens", {"frame"}, true, {}, pens},
      {"correct", {"image"}, true, {}, correct},
      {"fade", {"a", "b"}, false, {}, fade},
      {"raise", {"image"}, true, {}, raise_levels},
      {"fadeover", {"a", "b"}, true, {}, fadeover},
      {"deinterlace", {"image"}, true, {}, deinterlace},
      {"turn", {"image"}, false, {}, turn},
      {"mirror", {"image"}, true, {}, mirror},
      {"invert", {"image"}, true, {}, invert},
      {"levels", {"image"}, false, {}, levels},
      {"stretch", {"image"}, true, {}, stretch},
      {"autolevel", {"image"}, true, {}, autolevel},
      {"rotate", {"image"}, false, {}, rotate},
      {"shear", {"image"}, false, {}, shear},
      {"transpose", {"image"}, false, {}, transpose},
      {"cut", {"image"}, false, {}, cut},
      {"smooth", {"image"}, false, {}, smooth},
      {"dither", {"image"}, false, {}, dither},
      {"blit", {"dest", "src"}, true, {}, blit},
      {"line", {"image"}, true, {}, line},
      {"box", {"image"}, true, {}, box},
  };
  return table;
}

}  // namespace corvix::python
