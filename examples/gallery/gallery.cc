// corvix_gallery: turns the demo's results into a web page. Each picture is written as PNG
// through libpng; each figure is captioned with the command line that made it and the time it
// took.
//
//   corvix_gallery OUTDIR MANIFEST
//
// MANIFEST holds one entry a line, fields separated by tabs:
//   section, title, command line, seconds, files (separated by blanks, relative to OUTDIR)
// A file ending in .txt is shown as text; any other file is read as an image, shown whole at
// its own size (shrunk only where the page is narrower). A file may carry one option after a
// colon:
//   NAME:detail=WxH+X+Y   also shows that rectangle beside the whole, pixel for pixel, where
//                         fine results (one-pixel lines, dither patterns) would be lost by
//                         any shrinking
//   NAME:zoom=N           shows a small result N times enlarged, each pixel a square
//   NAME:planes=WxH:G     NAME holds raw planar YUV frames (Y, then U, then V, one chroma
//                         sample per G pixels of a row): the first frame's three planes are
//                         shown as grey pictures
#include <png.h>
#include <sys/stat.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/tool.h"

namespace corvix::cli {
namespace {

struct Entry {
  std::string section, title, command, seconds;
  std::vector<std::string> files;
};

// One picture on the page: its PNG (relative to OUTDIR), a label, how it is shown.
struct Picture {
  std::string png, label;
  int32_t width, height;
  int zoom = 0;  // 0: its own size, shrunk to fit; N: N times enlarged, pixels kept square
};

std::vector<std::string> split(const std::string &line, char sep) {
  std::vector<std::string> parts;
  std::string part;
  std::istringstream in(line);
  while (std::getline(in, part, sep)) parts.push_back(part);
  return parts;
}

std::string html(const std::string &text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// Writes an 8-bit RGB (3 bytes a pixel) or grey (1 byte) PNG.
void write_png(const Bitmap &image, const std::string &path) {
  std::FILE *f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) throw Failure("cannot write '" + path + "'");
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (png == nullptr || info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    throw Failure("libpng could not write '" + path + "'");
  }
  png_init_io(png, f);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
               static_cast<png_uint_32>(image.height), 8,
               image.bytes_per_pixel == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const size_t row = static_cast<size_t>(image.width) * static_cast<size_t>(image.bytes_per_pixel);
  for (int32_t y = 0; y < image.height; ++y)
    png_write_row(png, image.pixels + static_cast<size_t>(y) * row);
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fclose(f) != 0) throw Failure("cannot write '" + path + "'");
}

// A command line whose lines break only between its words, never at a '-' or '/' inside one.
std::string words(const std::string &command) {
  std::string out;
  for (const std::string &word : split(command, ' ')) {
    if (!out.empty()) out.push_back(' ');
    out.append("<span>").append(html(word)).append("</span>");
  }
  return out;
}

std::string base_name(const std::string &path) {
  const size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string dimensions(int32_t w, int32_t h) { return std::to_string(w) + "x" + std::to_string(h); }

// The part of `image` inside the rectangle, clipped to the image.
BitmapPtr crop(const Bitmap &image, const Rect &r) {
  const int32_t x0 = std::clamp(r.x, 0, image.width), y0 = std::clamp(r.y, 0, image.height);
  const int32_t x1 = std::clamp(r.x + r.width, x0, image.width);
  const int32_t y1 = std::clamp(r.y + r.height, y0, image.height);
  if (x1 == x0 || y1 == y0) throw Failure("the detail rectangle lies outside the picture");
  BitmapPtr out = new_bitmap(x1 - x0, y1 - y0, image.bytes_per_pixel);
  const auto bpp = static_cast<size_t>(image.bytes_per_pixel);
  for (int32_t y = y0; y < y1; ++y)
    std::copy_n(image.pixels + (static_cast<size_t>(y) * image.width + x0) * bpp,
                static_cast<size_t>(x1 - x0) * bpp,
                out->pixels + static_cast<size_t>(y - y0) * out->width * bpp);
  return out;
}

// The Y, U and V planes of the first frame of a raw planar file, as grey pictures.
std::vector<std::pair<std::string, BitmapPtr>> planes(const std::string &path, Size size,
                                                      int32_t group) {
  const std::vector<uint8_t> bytes = read_all(path);
  const int32_t cw = (size.width + group - 1) / group;
  const size_t luma = static_cast<size_t>(size.width) * size.height;
  const size_t chroma = static_cast<size_t>(cw) * size.height;
  if (bytes.size() < luma + 2 * chroma)
    throw Failure("'" + path + "' is shorter than one " + dimensions(size.width, size.height) +
                  " frame");
  std::vector<std::pair<std::string, BitmapPtr>> out;
  size_t at = 0;
  for (const char *name : {"Y", "U (Cb)", "V (Cr)"}) {
    const int32_t w = out.empty() ? size.width : cw;
    BitmapPtr plane = new_bitmap(w, size.height, 1);
    const size_t n = static_cast<size_t>(w) * size.height;
    std::copy_n(bytes.begin() + static_cast<long>(at), n, plane->pixels);
    at += n;
    out.emplace_back(name, std::move(plane));
  }
  return out;
}

// The pictures of one manifest file, written as PNGs under OUTDIR/png.
std::vector<Picture> pictures(const std::string &dir, const std::string &entry) {
  const size_t colon = entry.find(':');
  const std::string file = entry.substr(0, colon);
  const std::string option = colon == std::string::npos ? "" : entry.substr(colon + 1);
  const std::string path = dir + "/" + file, stem = "png/" + base_name(file);
  std::vector<Picture> out;
  auto add = [&](const Bitmap &b, const std::string &png, const std::string &label, int zoom) {
    write_png(b, dir + "/" + png);
    out.push_back({png, label, b.width, b.height, zoom});
  };
  if (option.rfind("planes=", 0) == 0) {
    const std::vector<std::string> f = split(option.substr(7), ':');
    const auto size = f.size() == 2 ? parse_size(f[0]) : std::nullopt;
    const auto group = f.size() == 2 ? parse_integer(f[1]) : std::nullopt;
    if (!size || !group || *group < 1 || *group > 4) throw Failure("bad option '" + entry + "'");
    int n = 0;
    for (auto &[name, plane] : planes(path, *size, static_cast<int32_t>(*group)))
      add(*plane, stem + "-" + std::to_string(n++) + ".png",
          name + " plane, " + dimensions(plane->width, plane->height), 0);
    return out;
  }
  BitmapPtr image = read_image(path, Accept::kColourOrGrey);
  const std::string size = dimensions(image->width, image->height);
  if (option.empty()) {
    add(*image, stem + ".png", file + ", " + size, 0);
  } else if (option.rfind("zoom=", 0) == 0) {
    const auto zoom = parse_integer(option.substr(5));
    if (!zoom || *zoom < 2 || *zoom > 64) throw Failure("bad option '" + entry + "'");
    add(*image, stem + ".png",
        file + ", " + size + ", shown " + std::to_string(*zoom) + " times enlarged",
        static_cast<int>(*zoom));
  } else if (option.rfind("detail=", 0) == 0) {
    const auto rect = parse_rect(option.substr(7));
    if (!rect) throw Failure("bad option '" + entry + "'");
    add(*image, stem + ".png", file + ", " + size, 0);
    BitmapPtr part = crop(*image, *rect);
    add(*part, stem + "-detail.png", "detail " + option.substr(7) + ", pixel for pixel", 1);
  } else {
    throw Failure("unknown option in '" + entry + "'");
  }
  return out;
}

const char kStyle[] =
    "body{font-family:sans-serif;margin:1.5em;background:#fafafa;color:#222}\n"
    "h2{border-bottom:1px solid #ccc;padding-bottom:.2em;margin-top:2em}\n"
    ".grid{display:flex;flex-wrap:wrap;gap:1em}\n"
    "figure{margin:0;background:#fff;padding:.8em;border:1px solid #ddd;flex:1 1 280px;"
    "max-width:100%;box-sizing:border-box}\n"
    ".pics{display:flex;flex-wrap:wrap;gap:.6em;align-items:flex-start}\n"
    ".pic{margin:0;max-width:100%}\n"
    ".pic img{display:block;max-width:100%;height:auto}\n"
    ".pic img.exact{image-rendering:pixelated;max-width:none}\n"
    ".pic span{display:block;font-size:.75em;color:#666;margin-top:.2em}\n"
    "figcaption{margin-top:.5em}\n"
    "figcaption code{display:block;font-size:.8em;background:#f0f0f0;padding:.4em;"
    "margin-top:.3em;overflow-x:auto}\n"
    "figcaption code span{white-space:pre}\n"
    ".time{color:#777;font-size:.8em}\npre{font-size:.9em;margin:0}\n";

int run(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: corvix_gallery OUTDIR MANIFEST\n");
    return 2;
  }
  const std::string dir = argv[1];
  std::ifstream manifest(argv[2]);
  if (!manifest) {
    std::fprintf(stderr, "corvix_gallery: cannot read '%s'\n", argv[2]);
    return 1;
  }
  std::vector<Entry> entries;
  std::string line;
  while (std::getline(manifest, line)) {
    const std::vector<std::string> f = split(line, '\t');
    if (f.size() < 4) continue;  // a step without pictures has no fifth field
    entries.push_back(
        {f[0], f[1], f[2], f[3], f.size() > 4 ? split(f[4], ' ') : std::vector<std::string>()});
  }

  mkdir((dir + "/png").c_str(), 0777);  // an existing one is fine
  std::ostringstream page;
  page << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
          "<meta name=\"viewport\" content=\"width=device-width\">\n"
          "<title>corvix demo</title>\n<style>\n"
       << kStyle
       << "</style></head><body>\n<h1>corvix demo</h1>\n"
          "<p>Every picture below was made by the command shown under it. The "
          "<code>corvix</code> commands that name a server command ran in a separate "
          "<code>corvixd</code> process; run without <code>--port</code> they start a server "
          "inside the tool and give the same bytes. Pictures are shown at their own size "
          "(shrunk only where the window is narrower); fine results have a detail beside them, "
          "pixel for pixel.</p>\n";
  std::string section;
  double total = 0;
  for (const Entry &e : entries) {
    if (e.section != section) {
      if (!section.empty()) page << "</div>\n";
      section = e.section;
      page << "<h2>" << html(section) << "</h2>\n<div class=\"grid\">\n";
    }
    std::ostringstream body;
    int width = 0;  // of the pictures side by side, with the gaps between them
    for (const std::string &file : e.files) {
      if (file.empty()) continue;
      if (file.size() > 4 && file.substr(file.size() - 4) == ".txt") {
        std::ifstream text(dir + "/" + file);
        std::stringstream content;
        content << text.rdbuf();
        body << "<pre>" << html(content.str()) << "</pre>\n";
        continue;
      }
      for (const Picture &p : pictures(dir, file)) {
        const int shown = std::max(p.zoom, 1);
        width += p.width * shown + (width > 0 ? 10 : 0);
        body << "<div class=\"pic\"><img src=\"" << html(p.png) << "\" alt=\""
             << html(e.title + ": " + p.label) << "\" width=\"" << p.width * shown << "\" height=\""
             << p.height * shown << "\"" << (p.zoom > 0 ? " class=\"exact\"" : "") << "><span>"
             << html(p.label) << "</span></div>\n";
      }
    }
    // As wide as its pictures side by side (the row then shares out what is left), so that
    // they show at their own size where the window allows.
    page << "<figure style=\"flex-basis:" << std::clamp(width + 26, 280, 1600) << "px\">\n"
         << "<div class=\"pics\">\n"
         << body.str() << "</div>\n<figcaption><b>" << html(e.title) << "</b> <span class=\"time\">"
         << html(e.seconds) << " s</span><code>" << words(e.command)
         << "</code></figcaption>\n</figure>\n";
    total += std::atof(e.seconds.c_str());
  }
  if (!section.empty()) page << "</div>\n";
  char sum[64];
  std::snprintf(sum, sizeof sum, "%.2f", total);
  page << "<p class=\"time\">" << entries.size() << " steps, " << sum
       << " s in all (each time includes starting the tool and reading and writing its "
          "files).</p>\n</body></html>\n";

  OutputFile out(dir + "/index.html");
  const std::string text = page.str();
  out.write(text.data(), text.size());
  out.commit();
  return 0;
}

}  // namespace
}  // namespace corvix::cli

int main(int argc, char **argv) {
  try {
    return corvix::cli::run(argc, argv);
  } catch (const std::exception &e) {
    std::fprintf(stderr, "corvix_gallery: %s\n", e.what());
    return 1;
  }
}
