// Operations that a server command performs: the image goes into shared memory, the command
// runs on it in the server (embedded, or a corvixd named by --port), the result comes back.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/ops.h"
#include "corvix/commands.h"

namespace corvix::cli {
namespace {

uint32_t word(int32_t v) { return static_cast<uint32_t>(v); }

// The pixels of a bitmap, and the bytes they take.
uint64_t pixel_count(const Bitmap &b) {
  return uint64_t{static_cast<uint32_t>(b.width)} * static_cast<uint32_t>(b.height);
}

uint64_t pixel_bytes(const Bitmap &b) {
  return pixel_count(b) * static_cast<uint32_t>(b.bytes_per_pixel);
}

std::string describe(const Bitmap &b) {
  return std::to_string(b.width) + "x" + std::to_string(b.height) +
         (b.bytes_per_pixel == 3 ? " colour" : " one-byte");
}

// Loads the input, runs a command that changes the shared copy in place (its first word the
// record's address, then `words`), and writes the changed image.
void in_place(Job &job, int32_t code, Accept accept, std::vector<uint32_t> words) {
  BitmapPtr image = read_image(job.input(), accept);
  check_binary_output(job.output());
  Server &server = job.server();
  const uint32_t record = server.share(*image);
  words.insert(words.begin(), record);
  server.command(code, words);
  server.fetch(record, *image);
  write_image(*image, job.output());
}

// A one-byte frame of cube indices (0..215) from a PGM; refuses anything else.
BitmapPtr read_cube_frame(const std::string &path) {
  BitmapPtr frame = read_image(path, Accept::kColourOrGrey);
  if (frame->bytes_per_pixel != 1)
    throw Failure("'" + path + "' is a colour image; this operation needs a one-byte PGM frame");
  return frame;
}

// The pen table of a palette image: its pixels, in reading order, are the pens 0, 1, 2, ...
// of a screen's colour map; entry k is the pen nearest to cube colour k. `pens` receives the
// palette's colours for the preview.
std::vector<uint8_t> pen_table(const std::string &palette_path, std::vector<uint8_t> *pens) {
  BitmapPtr palette = read_image(palette_path, Accept::kColour);
  const int64_t count = int64_t{palette->width} * palette->height;
  if (count > 256)
    throw UsageError("--palette: '" + palette_path + "' holds " + std::to_string(count) +
                     " colours; a screen has at most 256 pens");
  ColorMap *map = corvix_colormap_create(palette->pixels, static_cast<int32_t>(count));
  if (map == nullptr) throw Failure("out of memory for the colour map");
  uint8_t *table = gx_allocpalette(map);
  corvix_colormap_free(map);
  if (table == nullptr) throw Failure("out of memory for the pen table");
  // 256 entries, so that any byte the server looks up lies inside the table.
  std::vector<uint8_t> out(256, 0);
  std::memcpy(out.data(), table, 216);
  gx_freepalette(table);
  pens->assign(palette->pixels, palette->pixels + 3 * count);
  return out;
}

// The colours a one-byte frame stands for: cube colours, or with a palette the pens' colours.
void write_preview(const Bitmap &frame, const std::vector<uint8_t> &pens, const std::string &path) {
  BitmapPtr colour = new_bitmap(frame.width, frame.height, 3);
  const size_t n = static_cast<size_t>(frame.width) * static_cast<size_t>(frame.height);
  for (size_t i = 0; i < n; ++i) {
    const unsigned v = frame.pixels[i];
    uint8_t *px = colour->pixels + 3 * i;
    if (pens.empty()) {
      px[0] = static_cast<uint8_t>(51 * (v / 36 % 6));
      px[1] = static_cast<uint8_t>(51 * (v / 6 % 6));
      px[2] = static_cast<uint8_t>(51 * (v % 6));
    } else if (3 * v + 2 < pens.size()) {
      std::memcpy(px, &pens[3 * v], 3);
    } else {
      std::memset(px, 0, 3);
    }
  }
  write_image(*colour, path);
}

}  // namespace

void run_invert(Job &job) { in_place(job, CORVIX_CMD_INVERT, Accept::kColourOrGrey, {}); }
void run_deinterlace(Job &job) { in_place(job, CORVIX_CMD_DEINTERLACE, Accept::kColour, {}); }
void run_autolevel(Job &job) { in_place(job, CORVIX_CMD_AUTOLEVEL, Accept::kColour, {}); }

void run_correct(Job &job) {
  const Values &v = job.values();
  // The command takes the brightness offset plus 256, and the negative flag in the low 16
  // bits of its word.
  in_place(job, CORVIX_CMD_CORRECT, Accept::kColourOrGrey,
           {word(v.integer("contrast")), word(v.integer("brightness") + 256),
            v.flag("negative") ? 0xFFFFu : 0u});
}

void run_raise(Job &job) {
  in_place(job, CORVIX_CMD_SPECIALFADE, Accept::kColourOrGrey,
           {word(job.values().integer("level"))});
}

void run_mirror(Job &job) {
  const bool vertical = job.values().flag("vertical"), horizontal = job.values().flag("horizontal");
  if (!vertical && !horizontal) throw UsageError("give --vertical, --horizontal or both");
  in_place(job, CORVIX_CMD_MIRROR, Accept::kColour, {vertical ? 1u : 0u, horizontal ? 1u : 0u});
}

void run_stretch(Job &job) {
  const Values &v = job.values();
  std::vector<uint32_t> words;
  for (const char *name : {"red", "green", "blue", "master"}) {
    const Range r = v.range(name);
    // The stretch computes (high - low) x 255 in 32 bits.
    if (std::abs(int64_t{r.low}) > 4000000 || std::abs(int64_t{r.high}) > 4000000)
      throw UsageError(std::string("--") + name + ": bounds must lie within -4000000..4000000");
    words.push_back(word(r.low));
    words.push_back(word(r.high));
  }
  in_place(job, CORVIX_CMD_MINMAX, Accept::kColour, words);
}

void run_scale(Job &job) {
  const Size size = job.values().size("size");
  BitmapPtr image = read_image(job.input(), Accept::kColourOrGrey);
  check_binary_output(job.output());
  Server &server = job.server();
  // A colour image scales through command 9; a one-byte (chunky) frame through command 3.
  const int32_t code = image->bytes_per_pixel == 3 ? CORVIX_CMD_SCALECOPY : CORVIX_CMD_SCALE;
  const uint32_t result =
      server.command(code, {server.share(*image), word(size.width), word(size.height)});
  write_image(*server.take_bitmap(result, code), job.output());
}

void run_turn(Job &job) {
  const std::string &angle = job.values().text("angle");
  const uint32_t turn = angle == "90" ? 0 : angle == "180" ? 1 : 2;
  BitmapPtr image = read_image(job.input(), Accept::kColour);
  check_binary_output(job.output());
  Server &server = job.server();
  const uint32_t result = server.command(CORVIX_CMD_ROTANGLE, {server.share(*image), turn});
  write_image(*server.take_bitmap(result, CORVIX_CMD_ROTANGLE), job.output());
}

// The two frames of a fade: same size and pixel size, or a clear failure.
std::pair<BitmapPtr, BitmapPtr> read_frames(Job &job) {
  BitmapPtr a = read_image(job.input(0), Accept::kColourOrGrey);
  BitmapPtr b = read_image(job.input(1), Accept::kColourOrGrey);
  if (a->width != b->width || a->height != b->height || a->bytes_per_pixel != b->bytes_per_pixel) {
    throw Failure("the frames differ: '" + job.input(0) + "' is " + describe(*a) + ", '" +
                  job.input(1) + "' is " + describe(*b));
  }
  return {std::move(a), std::move(b)};
}

void run_fade(Job &job) {
  auto [a, b] = read_frames(job);
  check_binary_output(job.output());
  Server &server = job.server();
  const uint64_t size = pixel_bytes(*a);
  const uint32_t pa = server.share(a->pixels, size), pb = server.share(b->pixels, size);
  const uint32_t out = server.block(size);
  server.command(CORVIX_CMD_FADEOVER, {pa, pb, out, word(job.values().integer("level")),
                                       word(a->width), word(a->height), word(a->bytes_per_pixel)});
  if (size > 0) std::memcpy(a->pixels, server.at(out), size);
  write_image(*a, job.output());
}

void run_fadeover(Job &job) {
  auto [a, b] = read_frames(job);
  check_binary_output(job.output());
  Server &server = job.server();
  const uint64_t size = pixel_bytes(*b);
  const uint32_t record = server.share(*a);
  server.command(CORVIX_CMD_SPECIALFADEOVER,
                 {record, server.share(b->pixels, size), word(job.values().integer("level"))});
  server.fetch(record, *a);
  write_image(*a, job.output());
}

void run_remap(Job &job) {
  const Values &v = job.values();
  BitmapPtr image = read_image(job.input(), Accept::kColour);
  check_binary_output(job.output());
  std::vector<uint8_t> pens;
  const std::vector<uint8_t> table =
      v.has("palette") ? pen_table(v.text("palette"), &pens) : std::vector<uint8_t>();
  Server &server = job.server();
  const uint64_t count = pixel_count(*image);
  // Word 1 names a word holding the pixels' address: the record's first field is just that.
  const uint32_t record = server.share(*image);
  const uint32_t out = server.block(count);
  const uint32_t pen_block = table.empty() ? 0 : server.share(table.data(), table.size());
  server.command(CORVIX_CMD_REMAP24, {record, out, pen_block, static_cast<uint32_t>(3 * count)});
  BitmapPtr frame = new_bitmap(image->width, image->height, 1);
  if (count > 0) std::memcpy(frame->pixels, server.at(out), count);
  if (v.has("preview")) write_preview(*frame, pens, v.text("preview"));
  write_image(*frame, job.output());
}

void run_pens(Job &job) {
  BitmapPtr frame = read_cube_frame(job.input());
  check_binary_output(job.output());
  std::vector<uint8_t> pens;
  const std::vector<uint8_t> table = pen_table(job.values().text("palette"), &pens);
  const uint64_t count = pixel_count(*frame);
  for (uint64_t i = 0; i < count; ++i)
    if (frame->pixels[i] > 215)
      throw Failure("'" + job.input() + "' holds the value " + std::to_string(frame->pixels[i]) +
                    ", which is no cube index (0..215)");
  Server &server = job.server();
  const uint32_t buffer = server.share(frame->pixels, count);
  server.command(CORVIX_CMD_REMAP8,
                 {buffer, server.share(table.data(), table.size()), static_cast<uint32_t>(count)});
  if (count > 0) std::memcpy(frame->pixels, server.at(buffer), count);
  if (job.values().has("preview")) write_preview(*frame, pens, job.values().text("preview"));
  write_image(*frame, job.output());
}

void run_levels(Job &job) {
  BitmapPtr image = read_image(job.input(), Accept::kColour);
  Server &server = job.server();
  const uint32_t record = server.share(*image);
  static const char *const kChannels[] = {"average", "red", "green", "blue"};
  auto range = [&](uint32_t selector) {
    return server.take_range(server.command(CORVIX_CMD_FINDMINMAX, {record, selector}),
                             CORVIX_CMD_FINDMINMAX);
  };
  if (job.values().has("channel")) {
    const std::string &name = job.values().text("channel");
    for (uint32_t s = 0; s < 4; ++s) {
      if (name == kChannels[s]) {
        const LevelRange r = range(s);
        std::printf("%d %d\n", r.minimum, r.maximum);
      }
    }
  } else {
    for (uint32_t s : {1u, 2u, 3u, 0u}) {
      const LevelRange r = range(s);
      std::printf("%-7s %3d %3d\n", kChannels[s], r.minimum, r.maximum);
    }
  }
  if (std::fflush(stdout) != 0) throw Failure("cannot write standard output");
}

void run_quit(Job &job) {
  // The port a corvixd serves when started without --port.
  Server server(job.port().empty() ? CORVIX_PORT_NAME : job.port());
  const uint32_t answer = server.command(CORVIX_CMD_QUIT, {});
  if (answer != CORVIX_QUIT_ANSWER)
    throw Failure("the server on port '" + server.port() + "' answered " + std::to_string(answer) +
                  " to quit, not " + std::to_string(CORVIX_QUIT_ANSWER));
  if (!job.quiet())
    std::fprintf(stderr, "corvix: the server on port '%s' quit\n", server.port().c_str());
}

}  // namespace corvix::cli
