// YUV video as ffmpeg writes it: YUV4MPEG2 streams (-f yuv4mpegpipe), whose header gives the
// frame size and the chroma layout, and raw planar or semi-planar frames (-f rawvideo) whose
// layout the command line names. Conversion to colour runs in the server, frame by frame; the
// forward transform makes such frames from images.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/ops.h"
#include "colour/rgbtoyuv.h"
#include "corvix/commands.h"

namespace corvix::cli {
namespace {

// ---- Layouts ----------------------------------------------------------------------------

// How a frame's chroma is stored. Planar layouts hold Y, then U (Cb), then V (Cr); NV12 holds
// Y, then one plane of U,V pairs. Each chroma row is ceil(width / group) samples long; 4:2:0
// layouts have one chroma row for every two picture rows.
struct PixFmt {
  const char *name;  // ffmpeg's pixel-format name
  const char *y4m;   // the C tag of a YUV4MPEG2 header for it
  int32_t group;     // picture columns per chroma sample
  bool half_height;  // one chroma row for two picture rows
  bool interleaved;  // U and V alternate in one plane
};

constexpr PixFmt kPixFmts[] = {
    {"yuv411p", "411", 4, false, false}, {"yuv422p", "422", 2, false, false},
    {"yuv444p", "444", 1, false, false}, {"yuv420p", "420jpeg", 2, true, false},
    {"nv12", nullptr, 2, true, true},
};

const PixFmt &pix_fmt(std::string_view name) {
  for (const PixFmt &f : kPixFmts)
    if (name == f.name) return f;
  throw UsageError("unknown pixel format '" + std::string(name) + "'");
}

const PixFmt &pix_fmt_of_group(int32_t group) {
  for (const PixFmt &f : kPixFmts)
    if (f.group == group && !f.half_height) return f;
  throw UsageError("no pixel format has " + std::to_string(group) + " pixels a chroma sample");
}

// The layout of one frame in the input or output, and of the planes the server converts.
struct Frame {
  int32_t width = 0, height = 0;
  const PixFmt *fmt = nullptr;

  uint64_t luma() const {
    return uint64_t{static_cast<uint32_t>(width)} * static_cast<uint32_t>(height);
  }
  // Chroma samples of a stored row, and stored chroma rows.
  uint64_t chroma_width() const {
    return (static_cast<uint64_t>(width) + static_cast<uint32_t>(fmt->group) - 1) /
           static_cast<uint32_t>(fmt->group);
  }
  uint64_t chroma_height() const {
    return fmt->half_height ? (static_cast<uint64_t>(height) + 1) / 2 : height;
  }
  // Bytes of both chroma planes (or of the one interleaved plane) as stored.
  uint64_t chroma_bytes() const { return 2 * chroma_width() * chroma_height(); }
  uint64_t bytes() const { return luma() + chroma_bytes(); }

  // The server's conversion reads one chroma sample per group of pixels along the whole run,
  // so rows line up with the stored chroma only when the width is a multiple of the group;
  // otherwise every pixel is given its own sample (group 1).
  int32_t server_group() const { return width % fmt->group == 0 ? fmt->group : 1; }
  uint64_t server_chroma() const { return luma() / static_cast<uint32_t>(server_group()); }
  // Whether the stored planes are exactly the server's: read straight into them.
  bool direct() const {
    return !fmt->half_height && !fmt->interleaved && server_group() == fmt->group;
  }
  std::string describe() const {
    return std::to_string(width) + "x" + std::to_string(height) + " " + fmt->name;
  }
};

// A frame whose planes, and the colour picture made from them, fit 32-bit sizes. `what` names
// where the size came from; a size from the command line is a usage error, one from a file a
// failure.
Frame checked_frame(int32_t width, int32_t height, const PixFmt &fmt, const std::string &what,
                    bool from_command_line = false) {
  const Frame f{width, height, &fmt};
  if (width >= 1 && height >= 1 && 3 * f.luma() <= INT32_MAX) return f;
  const std::string message = what + ": a frame of " + std::to_string(width) + "x" +
                              std::to_string(height) + " pixels is too large";
  if (from_command_line) throw UsageError(message);
  throw Failure(message);
}

// ---- YUV4MPEG2 --------------------------------------------------------------------------

constexpr char kY4mMagic[] = "YUV4MPEG2";
constexpr size_t kY4mMagicLength = sizeof kY4mMagic - 1;
// Longer header lines are refused: ffmpeg's are well under 100 bytes.
constexpr size_t kY4mLineMax = 4096;

// A positive decimal header value that fits 32 bits; nullopt otherwise.
std::optional<int32_t> y4m_dimension(std::string_view text) {
  const auto v = parse_integer(text);
  if (!v || *v < 1 || *v > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(*v);
}

// The stream header's fields (the line after "YUV4MPEG2", without its line end).
Frame parse_y4m_header(std::string_view fields, const std::string &name) {
  const std::string where = name + ": y4m header";
  std::optional<int32_t> width, height;
  const PixFmt *fmt = &pix_fmt("yuv420p");  // the layout of a header without a C field
  while (!fields.empty()) {
    const size_t blank = fields.find(' ');
    const std::string_view field = fields.substr(0, blank);
    fields.remove_prefix(blank == std::string_view::npos ? fields.size() : blank + 1);
    if (field.empty()) continue;
    const std::string_view value = field.substr(1);
    switch (field.front()) {
      case 'W':
        if (!(width = y4m_dimension(value)))
          throw Failure(where + " field " + std::string(field) + ": not a width");
        break;
      case 'H':
        if (!(height = y4m_dimension(value)))
          throw Failure(where + " field " + std::string(field) + ": not a height");
        break;
      case 'I':
        if (value != "p" && value != "?")
          throw Failure(where + " field " + std::string(field) +
                        ": interlaced frames are not supported; only progressive (Ip) are");
        break;
      case 'C': {
        fmt = nullptr;
        for (const char *tag : {"411", "422", "444"})
          if (value == tag) fmt = &pix_fmt(std::string("yuv") + tag + "p");
        for (const char *tag : {"420jpeg", "420paldv", "420mpeg2", "420"})
          if (value == tag) fmt = &pix_fmt("yuv420p");
        if (fmt == nullptr)
          throw Failure(where + " field " + std::string(field) +
                        ": chroma layout not supported (C411, C422, C444, C420jpeg, C420paldv "
                        "and C420mpeg2 are)");
        break;
      }
      case 'X':
        // The conversion takes studio-range samples (Y 16..235); full-range ones would come
        // out washed out.
        if (value == "COLORRANGE=FULL")
          throw Failure(where + " field " + std::string(field) +
                        ": full-range samples are not supported; convert to studio range "
                        "(ffmpeg -vf scale=out_range=tv -pix_fmt yuv420p)");
        break;
      default:  // frame rate, aspect ratio: nothing the conversion needs
        break;
    }
  }
  if (!width) throw Failure(where + " has no W (width) field");
  if (!height) throw Failure(where + " has no H (height) field");
  return checked_frame(*width, *height, *fmt, name);
}

std::string y4m_header(const Frame &f) {
  return std::string(kY4mMagic) + " W" + std::to_string(f.width) + " H" + std::to_string(f.height) +
         " F25:1 Ip A1:1 C" + f.fmt->y4m + "\n";
}

// ---- Reading frames ---------------------------------------------------------------------

// A file or standard input read front to back. Its first bytes tell a y4m stream from raw
// frames; those bytes are kept and handed out again.
class Input {
 public:
  explicit Input(const std::string &path) : path_(path) {
    file_ = path == "-" ? stdin : std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) throw Failure("cannot read '" + path + "': " + std::strerror(errno));
    struct stat st {};
    if (fstat(fileno(file_), &st) == 0) {
      if (S_ISDIR(st.st_mode)) {
        close();
        throw Failure("cannot read '" + path + "': is a directory");
      }
      if (S_ISREG(st.st_mode) && path != "-") size_ = static_cast<int64_t>(st.st_size);
    }
  }
  ~Input() { close(); }
  Input(const Input &) = delete;
  Input &operator=(const Input &) = delete;

  // A name for messages.
  std::string name() const { return path_ == "-" ? "standard input" : "'" + path_ + "'"; }
  // The file's size in bytes, or -1 for a stream.
  int64_t size() const { return size_; }

  // Looks at the first `n` bytes without consuming them (fewer at the end of the input).
  const std::string &peek(size_t n) {
    while (kept_.size() < n) {
      char c[64];
      const size_t got = raw_read(c, std::min(sizeof c, n - kept_.size()));
      if (got == 0) break;
      kept_.append(c, got);
    }
    return kept_;
  }
  // Reads up to n bytes; fewer only at the end of the input.
  size_t read(void *into, size_t n) {
    auto *out = static_cast<uint8_t *>(into);
    const size_t from_kept = std::min(n, kept_.size());
    std::memcpy(out, kept_.data(), from_kept);
    kept_.erase(0, from_kept);
    return from_kept + (n > from_kept ? raw_read(out + from_kept, n - from_kept) : 0);
  }
  // One line without its '\n', at most `max` bytes long; nullopt at a clean end of the input.
  std::optional<std::string> line(size_t max, const std::string &what) {
    std::string text;
    for (;;) {
      char c;
      if (read(&c, 1) == 0) {
        if (text.empty()) return std::nullopt;
        throw Failure(name() + " is truncated inside " + what);
      }
      if (c == '\n') return text;
      if (text.size() == max)
        throw Failure(name() + ": " + what + " is longer than " + std::to_string(max) + " bytes");
      text += c;
    }
  }

 private:
  size_t raw_read(void *into, size_t n) {
    const size_t got = std::fread(into, 1, n, file_);
    if (got < n && std::ferror(file_))
      throw Failure("cannot read " + name() + ": " + std::strerror(errno));
    return got;
  }
  void close() {
    if (file_ != nullptr && file_ != stdin) std::fclose(file_);
    file_ = nullptr;
  }

  std::string path_;
  std::FILE *file_ = nullptr;
  int64_t size_ = -1;
  std::string kept_;
};

// The planes in shared memory that one conversion reads: Y, Cr and Cb, one chroma row per
// picture row, one chroma sample per `server_group()` pixels.
struct Planes {
  uint8_t *y, *cr, *cb;
};

// Frames of one input, y4m or raw, delivered as the server's planes.
class FrameSource {
 public:
  // `raw` is the layout the command line names for raw input (fmt null when it names none).
  FrameSource(const std::string &path, const Frame &raw) : in_(path) {
    const std::string &head = in_.peek(kY4mMagicLength + 1);
    if (head.empty()) throw Failure(in_.name() + " is empty");
    y4m_ = head.size() > kY4mMagicLength && head.compare(0, kY4mMagicLength, kY4mMagic) == 0 &&
           (head.back() == ' ' || head.back() == '\n');
    if (y4m_) {
      if (raw.fmt != nullptr || raw.width != 0)
        throw UsageError(in_.name() +
                         " is a y4m stream, whose header gives the frame size and layout: "
                         "leave out --size, --pix-fmt and --chroma");
      const std::string header = *in_.line(kY4mLineMax, "the y4m header");
      frame_ = parse_y4m_header(std::string_view(header).substr(kY4mMagicLength), in_.name());
      return;
    }
    if (raw.fmt == nullptr)
      throw UsageError(in_.name() +
                       " is raw YUV, whose layout cannot be told from its bytes: name it with "
                       "--pix-fmt yuv411p|yuv422p|yuv444p|yuv420p|nv12 (or --chroma 4|2|1) and "
                       "--size WxH, or give a y4m stream (ffmpeg -f yuv4mpegpipe)");
    if (raw.width == 0) throw UsageError("raw YUV input needs its frame size: --size WxH");
    frame_ = checked_frame(raw.width, raw.height, *raw.fmt, "--size", true);
    // A regular file must hold whole frames, so that a wrong size or layout fails before
    // anything is written.
    if (in_.size() > 0) {
      const auto size = static_cast<uint64_t>(in_.size());
      if (size % frame_.bytes() != 0)
        throw UsageError(in_.name() + " holds " + std::to_string(size) +
                         " bytes, not a whole number of " + frame_.describe() + " frames (" +
                         std::to_string(frame_.bytes()) +
                         " bytes each): check --size and --pix-fmt");
      frames_ = static_cast<long>(size / frame_.bytes());
    }
  }

  const Frame &frame() const { return frame_; }
  // Frames in a raw file; -1 where the count is not known ahead (streams, y4m).
  long frames() const { return frames_; }
  // Whether any byte follows the frames read so far.
  bool more() { return !in_.peek(1).empty(); }

  // Reads the next frame into the server's planes; false at the clean end of the input.
  bool next(const Planes &to) {
    if (y4m_) {
      const auto marker = in_.line(kY4mLineMax, "a y4m frame header");
      if (!marker) return false;
      if (marker->compare(0, 5, "FRAME") != 0 || (marker->size() > 5 && (*marker)[5] != ' '))
        throw Failure(in_.name() + ": expected a y4m FRAME header after frame " +
                      std::to_string(read_) + ", found '" + marker->substr(0, 20) + "'");
    }
    const uint64_t luma = frame_.luma();
    const size_t got = in_.read(to.y, luma);
    if (got == 0 && !y4m_) return false;
    uint64_t total = got;
    if (got == luma) {
      if (frame_.direct()) {
        // Planar and in the server's grouping: U is Cb, V is Cr.
        total += in_.read(to.cb, frame_.chroma_bytes() / 2);
        total += in_.read(to.cr, frame_.chroma_bytes() / 2);
      } else {
        chroma_.resize(frame_.chroma_bytes());
        total += in_.read(chroma_.data(), chroma_.size());
        if (total == frame_.bytes()) spread_chroma(to);
      }
    }
    if (total != frame_.bytes())
      throw Failure(in_.name() + " is truncated: frame " + std::to_string(read_ + 1) + " has " +
                    std::to_string(total) + " of " + std::to_string(frame_.bytes()) + " bytes");
    ++read_;
    return true;
  }

 private:
  // The stored chroma in the server's layout: every picture row takes its own chroma row
  // (4:2:0: the one of its pair of rows), every pixel group its stored sample.
  void spread_chroma(const Planes &to) {
    const Frame &f = frame_;
    const auto width = static_cast<uint64_t>(f.width);
    const uint64_t cw = f.chroma_width();
    const auto group = static_cast<uint64_t>(f.fmt->group);
    const auto server_group = static_cast<uint64_t>(f.server_group());
    const uint64_t row_samples = width / server_group;
    const uint8_t *u = chroma_.data(), *v = u + chroma_.size() / 2;
    const uint64_t step = f.fmt->interleaved ? 2 : 1;
    if (f.fmt->interleaved) v = u + 1;
    for (uint64_t y = 0; y < static_cast<uint64_t>(f.height); ++y) {
      const uint64_t from = (f.fmt->half_height ? y / 2 : y) * cw * step;
      uint8_t *cb = to.cb + y * row_samples, *cr = to.cr + y * row_samples;
      for (uint64_t k = 0; k < row_samples; ++k) {
        const uint64_t at = from + (k * server_group / group) * step;
        cb[k] = u[at];
        cr[k] = v[at];
      }
    }
  }

  Input in_;
  Frame frame_;
  bool y4m_ = false;
  long frames_ = -1, read_ = 0;
  std::vector<uint8_t> chroma_;
};

// The raw layout the command line names: --pix-fmt, or --chroma as its short form.
Frame raw_layout(const Values &v) {
  Frame f;
  if (v.has("pix-fmt") && v.has("chroma"))
    throw UsageError("--pix-fmt and --chroma name the same thing: give one");
  if (v.has("pix-fmt")) f.fmt = &pix_fmt(v.text("pix-fmt"));
  if (v.has("chroma")) f.fmt = &pix_fmt_of_group(static_cast<int32_t>(v.integer("chroma")));
  if (v.has("size")) {
    const Size s = v.size("size");
    f.width = s.width;
    f.height = s.height;
  }
  return f;
}

// ---- Output -----------------------------------------------------------------------------

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

// A picture as one stored frame of layout `f`: Y, then U and V (for NV12, U,V pairs). Each
// chroma sample is the mean over its group of pixels (for 4:2:0 two rows of it); a group
// reaching past the right or bottom edge repeats the last column or row, as far as it needs.
std::vector<uint8_t> encode(const Bitmap &image, const Frame &f) {
  const auto width = static_cast<size_t>(f.width), height = static_cast<size_t>(f.height);
  const size_t cw = f.chroma_width(), ch = f.chroma_height();
  const size_t across = static_cast<size_t>(f.fmt->group), down = f.fmt->half_height ? 2 : 1;
  std::vector<uint8_t> out(f.bytes());
  uint8_t *const y = out.data(), *const u = y + f.luma(), *const v = u + cw * ch;
  std::vector<uint8_t> unused(2 * width);
  for (size_t r = 0; r < height; ++r)
    rgb_to_yuv_planes(image.pixels + 3 * width * r, width, 1, y + width * r, unused.data(),
                      unused.data() + width);
  std::vector<uint8_t> group(3 * across * down), group_y(across * down);
  for (size_t cy = 0; cy < ch; ++cy) {
    for (size_t cx = 0; cx < cw; ++cx) {
      size_t n = 0;
      for (size_t dy = 0; dy < down; ++dy) {
        const size_t row = std::min(cy * down + dy, height - 1);
        for (size_t dx = 0; dx < across; ++dx, ++n) {
          const size_t column = std::min(cx * across + dx, width - 1);
          std::memcpy(&group[3 * n], image.pixels + 3 * (row * width + column), 3);
        }
      }
      uint8_t cb, cr;
      rgb_to_yuv_planes(group.data(), n, static_cast<uint32_t>(n), group_y.data(), &cb, &cr);
      const size_t at = cy * cw + cx;
      if (f.fmt->interleaved) {
        u[2 * at] = cb;
        u[2 * at + 1] = cr;
      } else {
        u[at] = cb;
        v[at] = cr;
      }
    }
  }
  return out;
}

bool ends_with(const std::string &s, std::string_view end) {
  return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

void run_yuv2rgb(Job &job) {
  const Values &v = job.values();
  const Frame raw = raw_layout(v);
  const bool resize = v.has("resize");
  const bool to_raw = v.flag("raw");
  const std::string &output = job.output();
  const bool pattern = !to_raw && output.find('%') != std::string::npos;
  if (pattern && !valid_pattern(output))
    throw UsageError("OUTPUT '" + output +
                     "': a pattern for numbered frames holds one %d "
                     "conversion, such as frame-%04d.ppm");
  if (to_raw || !pattern) check_binary_output(output);

  FrameSource source(job.input(), raw);
  const Frame &in = source.frame();
  if (!to_raw && !pattern && source.frames() > 1)
    throw UsageError("'" + job.input() + "' holds " + std::to_string(source.frames()) +
                     " frames: name OUTPUT with a pattern such as frame-%04d.ppm, or write one "
                     "raw stream with --raw");
  const Size out_size = resize ? v.size("resize") : Size{in.width, in.height};
  const uint64_t out_bytes =
      3 * uint64_t{static_cast<uint32_t>(out_size.width)} * static_cast<uint32_t>(out_size.height);
  if (out_bytes > INT32_MAX) throw UsageError("--resize is too large");

  Server &server = job.server();
  // Shared planes and destination, used for every frame.
  const int32_t group = in.server_group();
  const uint32_t y = server.block(in.luma()), cr = server.block(in.server_chroma()),
                 cb = server.block(in.server_chroma());
  const uint32_t destination = resize ? 0 : server.block(out_bytes);
  const auto word = [](int64_t w) { return static_cast<uint32_t>(w); };

  std::unique_ptr<OutputFile> stream;
  if (to_raw) stream = std::make_unique<OutputFile>(output);
  Progress progress(job.quiet(), source.frames());
  long done = 0;
  while (source.next({server.at(y), server.at(cr), server.at(cb)})) {
    BitmapPtr converted;
    const uint8_t *bgr;
    if (resize) {
      // Scale and convert in one pass into a new bitmap. Cr goes in as the second plane, so
      // byte 0 comes out blue.
      const uint32_t made = server.command(
          CORVIX_CMD_YUVSCALE, {y, cr, cb, word(in.width), word(in.height), word(out_size.width),
                                word(out_size.height), word(group)});
      converted = server.take_bitmap(made, CORVIX_CMD_YUVSCALE);
      bgr = converted->pixels;
    } else {
      server.command(CORVIX_CMD_YUVTORGB,
                     {y, cr, cb, destination, word(static_cast<int64_t>(in.luma())), word(group)});
      bgr = server.at(destination);
    }
    ++done;
    if (to_raw) {
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
  if (to_raw) stream->commit();
}

void run_rgb2yuv(Job &job) {
  const Values &v = job.values();
  if (v.has("pix-fmt") && v.has("chroma"))
    throw UsageError("--pix-fmt and --chroma name the same thing: give one");
  const PixFmt &fmt = v.has("pix-fmt")  ? pix_fmt(v.text("pix-fmt"))
                      : v.has("chroma") ? pix_fmt_of_group(v.integer("chroma"))
                                        : pix_fmt("yuv411p");
  const std::string &output = job.output();
  const bool y4m = v.has("format") ? v.text("format") == "y4m" : ends_with(output, ".y4m");
  if (y4m && fmt.y4m == nullptr)
    throw UsageError(std::string(fmt.name) + " frames have no y4m form: write yuv420p");
  check_binary_output(output);
  OutputFile out(output);
  Frame first;
  for (const std::string &path : job.inputs()) {
    BitmapPtr image = read_image(path, Accept::kColour);
    if (first.fmt == nullptr) {
      first = checked_frame(image->width, image->height, fmt, "'" + path + "'");
      if (y4m) {
        const std::string header = y4m_header(first);
        out.write(header.data(), header.size());
      }
    } else if (image->width != first.width || image->height != first.height) {
      throw Failure("'" + path + "' is " + std::to_string(image->width) + "x" +
                    std::to_string(image->height) + ", the first image " +
                    std::to_string(first.width) + "x" + std::to_string(first.height) +
                    ": every frame of a stream has one size");
    }
    const std::vector<uint8_t> frame = encode(*image, first);
    if (y4m) out.write("FRAME\n", 6);
    out.write(frame.data(), frame.size());
  }
  out.commit();
}

}  // namespace corvix::cli
