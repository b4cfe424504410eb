// Image files of any kind the library reads: the kind from the first bytes, then the netpbm,
// PNG or JPEG reader; saving in the format asked for or named by the extension.
#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "core/error.h"
#include "corvix/io.h"
#include "io/codecs.h"
#include "io/image.h"
#include "io/netpbm.h"
#include "io/ppm.h"
#include "io/safe_file.h"
#include "io/source.h"

namespace corvix {
namespace {

// PNG and JPEG files are read whole into memory; nothing larger than this is taken.
constexpr int64_t kLargestFile = INT32_MAX;

Bitmap *decode_whole(const uint8_t *data, size_t size, int32_t background, CorvixImageInfo *info) {
  if (png_signature(data, size)) return decode_png(data, size, background, info);
  return decode_jpeg(data, size, info);
}

Bitmap *load_from(Source &source, int32_t background, CorvixImageInfo *info) {
  *info = CorvixImageInfo{CORVIX_FORMAT_NONE, 0};
  const int a = source.get();
  if (a == -1) {
    if (source.failed_reading()) return nullptr;
    return fail(CORVIX_E_FORMAT, "the file is empty");
  }
  const int b = source.get();
  if (b != -1) source.unget();
  source.unget();
  if (a == 'P' && b >= '1' && b <= '7') {
    info->format = b == '3' || b == '6' ? CORVIX_FORMAT_PPM : CORVIX_FORMAT_PGM;
    return read_netpbm(source, false);
  }
  const bool png = a == 0x89 && b == 'P', jpeg = a == 0xff && b == 0xd8;
  if (!png && !jpeg) return fail(CORVIX_E_FORMAT, "not a PPM, PGM, PNG or JPEG file");
  size_t size = 0;
  if (const uint8_t *rest = source.memory_rest(&size))
    return decode_whole(rest, size, background, info);
  std::vector<uint8_t> file;
  if (!source.read_rest(&file, kLargestFile)) {
    if (source.failed_reading()) return nullptr;
    return fail(CORVIX_E_FORMAT, "the file is larger than 2 GiB");
  }
  return decode_whole(file.data(), file.size(), background, info);
}

// The load behind every public form; C++ exceptions (a vector's memory) stop here.
template <class Open>
Bitmap *guarded(Open open) {
  try {
    return open();
  } catch (const std::bad_alloc &) {
    return fail(CORVIX_E_NOMEM, "out of memory");
  }
}

enum class Format { kNone, kNetpbm, kPng, kJpeg };

Format format_named(const char *name) {
  for (const char *n : {"ppm", "pgm", "pnm"})
    if (strcasecmp(name, n) == 0) return Format::kNetpbm;
  if (strcasecmp(name, "png") == 0) return Format::kPng;
  if (strcasecmp(name, "jpeg") == 0 || strcasecmp(name, "jpg") == 0) return Format::kJpeg;
  return Format::kNone;
}

// The format to write, from `format` or else the extension of `filename`; kNone (reason set)
// when neither names one.
Format pick_format(const char *format, const char *filename) {
  if (format != nullptr) {
    const Format f = format_named(format);
    if (f == Format::kNone) fail(CORVIX_E_INVALID, "unknown image format \"%s\"", format);
    return f;
  }
  if (filename == nullptr) return fail(CORVIX_E_INVALID, "no format named"), Format::kNone;
  const char *slash = std::strrchr(filename, '/');
  const char *dot = std::strrchr(slash != nullptr ? slash : filename, '.');
  const Format f = dot != nullptr ? format_named(dot + 1) : Format::kNone;
  if (f == Format::kNone)
    fail(CORVIX_E_INVALID,
         "no image format for the name \"%s\" (its extension is none of .ppm .pgm .pnm .png "
         ".jpg .jpeg)",
         filename);
  return f;
}

// The bitmap encoded: a netpbm header before the pixels as they stand (`header`, parts 0 and
// 1), or a whole PNG or JPEG file in `encoded` (part 0). False with the reason set.
struct Prepared {
  char header[48];
  Encoded encoded;
  Bytes parts[2] = {{nullptr, 0}, {nullptr, 0}};
  ~Prepared() { std::free(encoded.data); }
};

bool prepare(const Bitmap *b, Format format, int32_t quality, Prepared *p) {
  char header[48];
  const int n = netpbm_header(b, header);  // the checks every format needs
  if (n == 0) return false;
  switch (format) {
    case Format::kNetpbm:
      std::memcpy(p->header, header, sizeof header);
      p->parts[0] = {p->header, static_cast<size_t>(n)};
      p->parts[1] = {b->pixels, size_t(b->width) * size_t(b->height) * size_t(b->bytes_per_pixel)};
      return true;
    case Format::kPng:
      if (!encode_png(b, &p->encoded)) return false;
      break;
    case Format::kJpeg:
      if (quality < 1 || quality > 100)
        return fail(CORVIX_E_INVALID, "JPEG quality %d is not 1..100", quality);
      if (!encode_jpeg(b, quality, &p->encoded)) return false;
      break;
    case Format::kNone: return false;
  }
  p->parts[0] = {p->encoded.data, p->encoded.size};
  return true;
}

}  // namespace

Bitmap *load_image(Source &source, int32_t background, CorvixImageInfo *info) {
  CorvixImageInfo ignored;
  return guarded([&] { return load_from(source, background, info != nullptr ? info : &ignored); });
}

bool write_image(SafeFile &file, const Bitmap *bitmap, const char *format, int32_t quality) {
  const Format f = pick_format(format, nullptr);
  Prepared p;
  if (f == Format::kNone || !prepare(bitmap, f, quality, &p)) return false;
  return file.write(p.parts[0].data, p.parts[0].size) &&
         file.write(p.parts[1].data, p.parts[1].size);
}

}  // namespace corvix

extern "C" {

Bitmap *corvix_load_image_ex(const char *filename, int32_t background, CorvixImageInfo *info) {
  const int fd = corvix::open_image_file(filename);
  if (fd < 0) return nullptr;
  Bitmap *b;
  {
    corvix::Source source = corvix::Source::descriptor(fd);
    b = corvix::load_image(source, background, info);
  }
  ::close(fd);
  return b;
}

Bitmap *corvix_load_image_fd_ex(int fd, int32_t background, CorvixImageInfo *info) {
  corvix::Source source = corvix::Source::descriptor(fd);
  return corvix::load_image(source, background, info);
}

Bitmap *corvix_load_image_memory_ex(const void *data, size_t size, int32_t background,
                                    CorvixImageInfo *info) {
  if (data == nullptr && size > 0) return corvix::fail(CORVIX_E_INVALID, "no data");
  corvix::Source source = corvix::Source::memory(data, size);
  return corvix::load_image(source, background, info);
}

Bitmap *corvix_load_image(const char *filename) {
  return corvix_load_image_ex(filename, CORVIX_ALPHA_DROP, nullptr);
}
Bitmap *corvix_load_image_fd(int fd) {
  return corvix_load_image_fd_ex(fd, CORVIX_ALPHA_DROP, nullptr);
}
Bitmap *corvix_load_image_memory(const void *data, size_t size) {
  return corvix_load_image_memory_ex(data, size, CORVIX_ALPHA_DROP, nullptr);
}

int32_t corvix_save_image(const Bitmap *bitmap, const char *filename, const char *format,
                          int32_t quality) {
  if (filename == nullptr) return corvix::fail(CORVIX_E_INVALID, "no file name");
  const corvix::Format f = corvix::pick_format(format, filename);
  corvix::Prepared p;
  if (f == corvix::Format::kNone || !corvix::prepare(bitmap, f, quality, &p)) return 0;
  return corvix::save_file(filename, {p.parts[0], p.parts[1]}) ? 1 : 0;
}

int32_t corvix_save_image_fd(const Bitmap *bitmap, int fd, const char *format, int32_t quality) {
  if (format == nullptr) return corvix::fail(CORVIX_E_INVALID, "no format named");
  const corvix::Format f = corvix::pick_format(format, nullptr);
  corvix::Prepared p;
  if (f == corvix::Format::kNone || !corvix::prepare(bitmap, f, quality, &p)) return 0;
  return corvix::save_fd(fd, {p.parts[0], p.parts[1]}) ? 1 : 0;
}

void *corvix_save_image_memory(const Bitmap *bitmap, const char *format, int32_t quality,
                               size_t *size) {
  if (format == nullptr || size == nullptr)
    return corvix::fail(CORVIX_E_INVALID, "no format or size named");
  const corvix::Format f = corvix::pick_format(format, nullptr);
  corvix::Prepared p;
  if (f == corvix::Format::kNone || !corvix::prepare(bitmap, f, quality, &p)) return nullptr;
  if (f != corvix::Format::kNetpbm) {
    *size = p.encoded.size;
    return std::exchange(p.encoded.data, nullptr);
  }
  const size_t n = p.parts[0].size + p.parts[1].size;
  auto *file = static_cast<uint8_t *>(std::malloc(n));
  if (file == nullptr) return corvix::fail(CORVIX_E_NOMEM, "out of memory");
  std::memcpy(file, p.parts[0].data, p.parts[0].size);
  std::memcpy(file + p.parts[0].size, p.parts[1].data, p.parts[1].size);
  *size = n;
  return file;
}

}  // extern "C"
