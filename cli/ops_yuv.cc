// Raw planar YUV, as video tools write it (-f rawvideo -pix_fmt yuv411p | yuv422p | yuv444p):
// conversion to colour through the server, frame by frame, and the forward transform that
// makes such planes from images.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/ops.h"
#include "colour/rgbtoyuv.h"

namespace corvix::cli {
namespace {

// One frame's layout: Y, then U (Cb), then V (Cr), each plane row after row, chroma one
// byte per `group` pixels of a row.
struct Layout {
  int32_t width, height, group;
  uint64_t luma() const {
    return uint64_t{static_cast<uint32_t>(width)} * static_cast<uint32_t>(height);
  }
  uint64_t chroma() const { return luma() / static_cast<uint32_t>(group); }
  uint64_t frame() const { return luma() + 2 * chroma(); }
};

const char *format_name(int32_t group) {
  return group == 4 ? "yuv411p" : group == 2 ? "yuv422p" : "yuv444p";
}

Layout layout(Size size, int32_t group) {
  if (size.width % group != 0) {
    // The file's chroma rows are ceil(width / group) bytes, the conversion's groups run on
    // across row ends: for any other width the two disagree from the second row on.
    const int32_t padded = (size.width + group - 1) / group;
    throw UsageError("width " + std::to_string(size.width) + " is not a multiple of " +
                     std::to_string(group) + ": " + format_name(group) +
                     " pads each chroma row to " + std::to_string(padded) +
                     " bytes while the conversion groups " + std::to_string(group) +
                     " pixels across row ends; crop or scale to a width that is a multiple of " +
                     std::to_string(group));
  }
  const Layout l{size.width, size.height, group};
  if (l.frame() > INT32_MAX)
    throw UsageError("--size " + std::to_string(size.width) + "x" + std::to_string(size.height) +
                     " is too large");
  return l;
}

// A printf pattern with exactly one integer conversion (%d, %4d, %04d) and otherwise only
// "%%": the name of numbered output files. False for anything else.
bool valid_pattern(const std::string &pattern) {
  int conversions = 0;
  for (size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] != '%') continue;
    ++i;
    if (i < pattern.size() && pattern[i] == '%') continue;
    size_t digits = 0;
    while (i < pattern.size() && pattern[i] >= '0' && pattern[i] <= '9' && digits < 3) {
      ++i;
      ++digits;
    }
    if (i >= pattern.size() || pattern[i] != 'd') return false;
    ++conversions;
  }
  return conversions == 1;
}

std::string numbered(const std::string &pattern, long n) {
  char name[4096];
  const int len = std::snprintf(name, sizeof name, pattern.c_str(), static_cast<int>(n));
  if (len < 0 || static_cast<size_t>(len) >= sizeof name)
    throw UsageError("OUTPUT pattern is too long");
  return name;
}

// Frames read one after the other from a file or a stream. A regular file's size is checked
// up front, so that a wrong --size or --chroma fails before anything is written.
class FrameSource {
 public:
  FrameSource(const std::string &path, const Layout &l) : path_(path), frame_(l.frame()) {
    file_ = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) throw Failure("cannot read '" + path + "': " + std::strerror(errno));
    struct stat st {};
    if (fstat(fileno(file_), &st) == 0 && S_ISDIR(st.st_mode)) {
      close();
      throw Failure("cannot read '" + path + "': is a directory");
    }
    if (fstat(fileno(file_), &st) == 0 && S_ISREG(st.st_mode) && path != "-") {
      const auto size = static_cast<uint64_t>(st.st_size);
      if (size == 0) {
        close();
        throw Failure("cannot read '" + path + "': the file is empty");
      }
      if (size % frame_ != 0) {
        close();
        throw UsageError("'" + path + "' holds " + std::to_string(size) +
                         " bytes, not a whole number of " + std::to_string(l.width) + "x" +
                         std::to_string(l.height) + " " + format_name(l.group) + " frames (" +
                         std::to_string(frame_) + " bytes each): check --size and --chroma");
      }
      frames_ = static_cast<long>(size / frame_);
    }
  }
  ~FrameSource() { close(); }

  // Frames in the file, or -1 for a stream.
  long frames() const { return frames_; }
  const std::string &name() const { return path_; }

  // Reads the next frame's Y, U and V planes; false at the clean end of the input.
  bool next(uint8_t *y, uint8_t *u, uint8_t *v, uint64_t luma, uint64_t chroma) {
    const size_t got = read(y, luma);
    if (got == 0) return false;
    const size_t total =
        got + (got == luma ? read(u, chroma) : 0) + (got == luma ? read(v, chroma) : 0);
    if (total != frame_)
      throw Failure("'" + path_ + "' is truncated: its last frame has " + std::to_string(total) +
                    " of " + std::to_string(frame_) + " bytes");
    return true;
  }
  // Whether any byte follows (consumes it; used only to refuse a second frame).
  bool more() {
    const int c = std::fgetc(file_);
    return c != EOF;
  }

 private:
  size_t read(uint8_t *into, uint64_t n) {
    const size_t got = std::fread(into, 1, n, file_);
    if (got < n && std::ferror(file_))
      throw Failure("cannot read '" + path_ + "': " + std::strerror(errno));
    return got;
  }
  void close() {
    if (file_ != nullptr && file_ != stdin) std::fclose(file_);
    file_ = nullptr;
  }

  std::string path_;
  uint64_t frame_;
  std::FILE *file_ = nullptr;
  long frames_ = -1;
};

// A progress bar on standard error, shown only on a terminal and for more than one frame.
class Progress {
 public:
  Progress(bool quiet, long total)
      : on_(!quiet && total != 1 && isatty(STDERR_FILENO)), total_(total) {}
  ~Progress() {
    if (on_ && shown_) std::fputc('\n', stderr);
  }
  void frame(long done) {
    if (!on_) return;
    shown_ = true;
    if (total_ > 0) {
      const int width = 30, filled = static_cast<int>(width * done / total_);
      std::fprintf(stderr, "\rcorvix yuv2rgb: [%.*s%*s] frame %ld/%ld", filled,
                   "==============================", width - filled, "", done, total_);
    } else {
      std::fprintf(stderr, "\rcorvix yuv2rgb: frame %ld", done);
    }
    std::fflush(stderr);
  }

 private:
  bool on_;
  bool shown_ = false;
  long total_;
};

// A converted frame (byte 0 blue, as the conversion writes it) as a PPM image, red first.
BitmapPtr to_rgb(const uint8_t *bgr, int32_t width, int32_t height) {
  BitmapPtr image = new_bitmap(width, height, 3);
  const size_t n = static_cast<size_t>(width) * static_cast<size_t>(height);
  uint8_t *out = image->pixels;
  for (size_t i = 0; i < n; ++i) {
    out[3 * i] = bgr[3 * i + 2];
    out[3 * i + 1] = bgr[3 * i + 1];
    out[3 * i + 2] = bgr[3 * i];
  }
  return image;
}

}  // namespace

void run_yuv2rgb(Job &job) {
  const Values &v = job.values();
  const auto group = static_cast<int32_t>(std::stoi(v.text("chroma")));
  const Layout in = layout(v.size("size"), group);
  const bool resize = v.has("resize");
  const Size out_size = resize ? v.size("resize") : Size{in.width, in.height};
  const bool raw = v.flag("raw");
  const std::string &output = job.output();
  const bool pattern = !raw && output.find('%') != std::string::npos;
  if (pattern && !valid_pattern(output))
    throw UsageError("OUTPUT '" + output +
                     "': a pattern for numbered frames holds one %d "
                     "conversion, such as frame-%04d.ppm");
  if (raw || !pattern) check_binary_output(output);

  FrameSource source(job.input(), in);
  if (!raw && !pattern && source.frames() > 1)
    throw UsageError("'" + job.input() + "' holds " + std::to_string(source.frames()) +
                     " frames: name OUTPUT with a pattern such as frame-%04d.ppm, or write one "
                     "raw stream with --raw");

  Server &server = job.server();
  // Shared planes and destination, used for every frame.
  const uint32_t y = server.block(in.luma()), u = server.block(in.chroma()),
                 vv = server.block(in.chroma());
  const uint64_t out_bytes =
      3 * uint64_t{static_cast<uint32_t>(out_size.width)} * static_cast<uint32_t>(out_size.height);
  if (out_bytes > INT32_MAX) throw UsageError("--resize is too large");
  const uint32_t destination = resize ? 0 : server.block(out_bytes);

  std::unique_ptr<OutputFile> stream;
  if (raw) stream = std::make_unique<OutputFile>(output);
  Progress progress(job.quiet(), source.frames());
  long done = 0;
  while (source.next(server.at(y), server.at(u), server.at(vv), in.luma(), in.chroma())) {
    BitmapPtr converted;
    const uint8_t *bgr;
    if (resize) {
      // Command 10: scale and convert in one pass into a new bitmap. The Cr (V) plane goes
      // in as the second plane, so byte 0 comes out blue.
      const uint32_t made = server.command(
          10, {y, vv, u, static_cast<uint32_t>(in.width), static_cast<uint32_t>(in.height),
               static_cast<uint32_t>(out_size.width), static_cast<uint32_t>(out_size.height),
               static_cast<uint32_t>(group)});
      converted = server.take_bitmap(made, 10);
      bgr = converted->pixels;
    } else {
      // Command 2: Y, Cr, Cb, destination, pixel count, group size.
      server.command(2, {y, vv, u, destination, static_cast<uint32_t>(in.luma()),
                         static_cast<uint32_t>(group)});
      bgr = server.at(destination);
    }
    ++done;
    if (raw) {
      stream->write(bgr, out_bytes);
    } else {
      BitmapPtr image = to_rgb(bgr, out_size.width, out_size.height);
      if (!pattern && source.more())
        throw UsageError("'" + job.input() +
                         "' holds more than one frame: name OUTPUT with a "
                         "pattern such as frame-%04d.ppm, or write one raw stream with --raw");
      write_image(*image, pattern ? numbered(output, done) : output);
    }
    progress.frame(done);
  }
  if (done == 0) throw Failure("'" + job.input() + "' holds no frame");
  if (raw) stream->commit();
}

void run_rgb2yuv(Job &job) {
  const auto group = static_cast<int32_t>(std::stoi(job.values().text("chroma")));
  check_binary_output(job.output());
  OutputFile out(job.output());
  Size first{};
  for (const std::string &path : job.inputs()) {
    BitmapPtr image = read_image(path, Accept::kColour);
    if (first.width == 0) {
      first = {image->width, image->height};
      layout(first, group);  // refuses widths that the planes cannot carry
    } else if (image->width != first.width || image->height != first.height) {
      throw Failure("'" + path + "' is " + std::to_string(image->width) + "x" +
                    std::to_string(image->height) + ", the first image " +
                    std::to_string(first.width) + "x" + std::to_string(first.height) +
                    ": every frame of a stream has one size");
    }
    const Layout l = layout(first, group);
    std::vector<uint8_t> y(l.luma()), cb(l.chroma()), cr(l.chroma());
    rgb_to_yuv_planes(image->pixels, l.luma(), static_cast<uint32_t>(group), y.data(),
                      cb.data(), cr.data());
    out.write(y.data(), y.size());
    out.write(cb.data(), cb.size());
    out.write(cr.data(), cr.size());
  }
  out.commit();
}

}  // namespace corvix::cli
