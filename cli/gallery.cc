// corvix_gallery: turns the demo's results into a web page. Each picture (PPM or PGM) is
// written as PNG through libpng; each entry is captioned with the command line that made it
// and the time it took.
//
//   corvix_gallery OUTDIR MANIFEST
//
// MANIFEST holds one entry a line, fields separated by tabs:
//   section, title, command line, seconds, files (separated by blanks, relative to OUTDIR)
// A file ending in .txt is shown as text; any other file is read as an image.
#include <png.h>
#include <sys/stat.h>

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
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        out += c;
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

std::string base_name(const std::string &path) {
  const size_t slash = path.rfind('/');
  std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  const size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

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
          "<title>corvix demo</title>\n<style>\n"
          "body{font-family:sans-serif;margin:2em;background:#fafafa;color:#222}\n"
          "h2{border-bottom:1px solid #ccc;padding-bottom:.2em;margin-top:2em}\n"
          ".grid{display:flex;flex-wrap:wrap;gap:1.5em}\n"
          "figure{margin:0;background:#fff;padding:.8em;border:1px solid #ddd;max-width:540px}\n"
          "figure img{max-width:256px;max-height:256px;margin:2px;image-rendering:pixelated}\n"
          "figcaption code{display:block;font-size:.8em;background:#f0f0f0;padding:.4em;"
          "white-space:pre-wrap;word-break:break-all}\n"
          ".time{color:#777;font-size:.8em}\npre{font-size:.9em}\n"
          "</style></head><body>\n<h1>corvix demo</h1>\n"
          "<p>Every picture below was made by the <code>corvix</code> command shown under it. "
          "The commands that name a server command ran in a separate <code>corvixd</code> "
          "process; run without <code>--port</code> they start a server inside the tool and "
          "give the same bytes.</p>\n";
  std::string section;
  double total = 0;
  for (const Entry &e : entries) {
    if (e.section != section) {
      if (!section.empty()) page << "</div>\n";
      section = e.section;
      page << "<h2>" << html(section) << "</h2>\n<div class=\"grid\">\n";
    }
    page << "<figure>\n";
    for (const std::string &file : e.files) {
      if (file.empty()) continue;
      const std::string path = dir + "/" + file;
      if (file.size() > 4 && file.substr(file.size() - 4) == ".txt") {
        std::ifstream text(path);
        std::stringstream content;
        content << text.rdbuf();
        page << "<pre>" << html(content.str()) << "</pre>\n";
        continue;
      }
      BitmapPtr image = read_image(path, Accept::kColourOrGrey);
      const std::string png = "png/" + base_name(file) + ".png";
      write_png(*image, dir + "/" + png);
      page << "<img src=\"" << html(png) << "\" alt=\"" << html(e.title) << "\" title=\""
           << image->width << "x" << image->height << "\">\n";
    }
    page << "<figcaption><b>" << html(e.title) << "</b> <span class=\"time\">" << html(e.seconds)
         << " s</span><code>" << html(e.command) << "</code></figcaption>\n</figure>\n";
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
