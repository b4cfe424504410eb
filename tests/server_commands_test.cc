// Every command through the embedded server: the words are read in their order, the result
// word is right, records come back big-endian and belong to the host, and the bytes equal the
// library routine's on the same input.
#include <atomic>
#include <cstring>
#include <thread>
#include <tuple>

#include "tests/support.h"

namespace corvix {
namespace {

// A crop of a photograph with an odd width, as three-byte pixels.
test::Image crop(const char *name, int32_t w, int32_t h) {
  const test::Image full = test::load_image(name);
  test::Image im{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h * 3)};
  for (int32_t y = 0; y < h; ++y)
    std::memcpy(&im.rgb[3 * static_cast<size_t>(y) * w],
                &full.rgb[3 * (static_cast<size_t>(y + 100) * full.width + 150)], 3 * w);
  return im;
}

class ServerCommands : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(host.ok()); }
  void TearDown() override { EXPECT_EQ(host.blocks(), kept) << "leaked blocks"; }

  uint32_t shared_frame() {
    kept += 2;
    return host.bitmap_of(im);
  }
  std::vector<uint8_t> bytes(uint32_t a, size_t size) { return {host.at(a), host.at(a) + size}; }
  // An argument block: words 1.. as given, word 0 a value no command answers.
  uint32_t block(const std::vector<uint32_t> &words) {
    const uint32_t b = host.alloc(40);
    host.set_word(b, 0, 0xDEADBEEF);
    for (size_t i = 0; i < words.size(); ++i) host.set_word(b, static_cast<int>(i + 1), words[i]);
    return b;
  }
  // Runs the command, checks the reply and returns word 0; the argument block is freed.
  uint32_t run(int32_t code, const std::vector<uint32_t> &words) {
    const uint32_t b = block(words);
    EXPECT_EQ(host.send(code, b), 0);
    const uint32_t w0 = host.word(b, 0);
    host.free(b);
    return w0;
  }
  // Runs a command that makes a record of `parts` blocks under every allocation failure in
  // turn: a failure answers 0 and leaves nothing, success hands `check` the host's record.
  void made(int32_t code, const std::vector<uint32_t> &words, uint32_t parts,
            const std::function<void(uint32_t)> &check) {
    const uint32_t args = block(words), before = host.blocks();
    const int allocations = test::sweep_allocation_failures([&](int failing) {
      ASSERT_EQ(host.send(code, args), 0);
      const uint32_t address = host.word(args, 0);
      ASSERT_EQ(address == 0, failing != 0) << "code " << code << " failing " << failing;
      EXPECT_EQ(host.blocks(), before + (address != 0 ? parts : 0)) << "code " << code;
      if (failing == 0) check(address);
      if (parts == 2) host.free_bitmap(address); else host.free(address);
      EXPECT_EQ(host.blocks(), before) << "code " << code << " failing " << failing;
    });
    EXPECT_GE(allocations, 1) << "code " << code;
    host.free(args);
  }

  test::Host host;
  uint32_t kept = 0;
  const test::Image im = crop("coffee.ppm", 37, 23), other = crop("astronaut.ppm", 37, 23);
  const size_t n = static_cast<size_t>(im.width) * im.height;
};

TEST_F(ServerCommands, InPlaceEffectsMatchTheLibrary) {
  const uint32_t f = shared_frame(), b = host.put(other.rgb);
  kept += 1;
  const std::tuple<int32_t, std::vector<uint32_t>, std::function<void(Bitmap *)>> cases[] = {
      {5, {f, 150, 256 + 20, 0x0001FFFF}, [](Bitmap *x) { cvx_correct_ll(x, 150, 20, -1); }},
      {5, {f, 80, 256 - 30, 0x00010000}, [](Bitmap *x) { cvx_correct_ll(x, 80, -30, 0); }},
      {8, {f}, [](Bitmap *x) { cvx_deinterlace_ll(x); }},
      {11, {f, 99}, [](Bitmap *x) { cvx_specialfade_ll(x, 99); }},
      {12, {f, b, 120}, [&](Bitmap *x) { cvx_specialfadeover_ll(x, other.rgb.data(), 120); }},
      {14, {f, 1, 0}, [](Bitmap *x) { fxx_mirror_ll(x, 1, 0); }},
      {14, {f, 0, 1}, [](Bitmap *x) { fxx_mirror_ll(x, 0, 1); }},
      {15, {f}, [](Bitmap *x) { fxx_invert_ll(x); }},
      {16, {f, 10, 200, 30, 180, 250, 5, 20, 240},
       [](Bitmap *x) { fxx_minmax_ll(x, 10, 200, 30, 180, 250, 5, 20, 240); }},
      {18, {f}, [](Bitmap *x) { fxx_min_max_ll(x); }},
  };
  for (const auto &[code, words, routine] : cases) {
    std::memcpy(host.at(host.pixels_of(f)), im.rgb.data(), 3 * n);
    EXPECT_EQ(run(code, words), 0u) << "code " << code;
    std::vector<uint8_t> expect = im.rgb;
    Bitmap native{expect.data(), im.width, im.height, 3};
    routine(&native);
    EXPECT_EQ(bytes(host.pixels_of(f), 3 * n), expect) << "code " << code;
  }
}

TEST_F(ServerCommands, BufferCommandsReadTheirWordsInOrder) {
  const uint32_t a = host.put(im.rgb), b = host.put(other.rgb), out = host.alloc(3 * n);
  // 7: A, B, output, level, width, height, bytes per pixel.
  EXPECT_EQ(run(7, {a, b, out, 64, 37, 23, 3}), 0u);
  std::vector<uint8_t> expect(3 * n);
  cvx_fadeover_ll(im.rgb.data(), other.rgb.data(), expect.data(), 64, 37, 23, 3);
  EXPECT_EQ(bytes(out, 3 * n), expect);
  // 4: word 1 names a word holding the source address (the record's first field), then the
  // output, the pen table and the length; only the first n bytes of the output change.
  const uint32_t frame = shared_frame();
  std::vector<uint8_t> pens(216), table(256);
  for (int k = 0; k < 216; ++k) pens[k] = static_cast<uint8_t>(255 - k);
  for (int v = 0; v < 256; ++v) table[v] = static_cast<uint8_t>(v * 7);
  const uint32_t pen_table = host.put(pens), t = host.put(table);
  EXPECT_EQ(run(4, {frame, out, pen_table, static_cast<uint32_t>(3 * n)}), 0u);
  gx_remap24(im.rgb.data(), expect.data(), pens.data(), static_cast<uint32_t>(3 * n));
  EXPECT_EQ(bytes(out, 3 * n), expect);
  // 6: buffer, table, length.
  EXPECT_EQ(run(6, {out, t, static_cast<uint32_t>(n - 1)}), 0u);
  gx_remap8(expect.data(), table.data(), static_cast<uint32_t>(n - 1));
  EXPECT_EQ(bytes(out, 3 * n), expect);
  for (uint32_t x : {a, b, out, pen_table, t}) host.free(x);
}

// Commands 3, 9, 10, 13 and 17 hand the host a new record, or 0 with nothing left behind.
TEST_F(ServerCommands, NewRecordsArriveBigEndianAndBelongToTheHost) {
  const uint32_t frame = shared_frame();
  const test::Planes p = test::image_planes(im, 1);
  const uint32_t y = host.put(p.y), cr = host.put(p.cr), cb = host.put(p.cb);
  Bitmap src{const_cast<uint8_t *>(im.rgb.data()), im.width, im.height, 3};
  Bitmap chunky{src.pixels, im.width, im.height, 1};
  // 13: frame and turn code; 3 and 9: frame, width, height; 10: planes, sizes, factor.
  const std::tuple<int32_t, std::vector<uint32_t>, Bitmap *> bitmaps[] = {
      {13, {frame, 0}, fxx_rotangle_ll(&src, 0)}, {13, {frame, 1}, fxx_rotangle_ll(&src, 1)},
      {13, {frame, 2}, fxx_rotangle_ll(&src, 2)},
      {3, {frame, 50, 9}, cvx_scale_ll(&chunky, 50, 9)},
      {9, {frame, 50, 17}, gx_scalecopybitmap(&src, 50, 17)},
      {10, {y, cr, cb, 37, 23, 61, 11, 1},
       fx_yuvscale_ll(p.y.data(), p.cr.data(), p.cb.data(), 37, 23, 61, 11, 1)},
  };
  for (const auto &[code, words, want] : bitmaps) {
    made(code, words, 2, [&](uint32_t address) {
      const Bitmap got = host.read_bitmap(address);
      ASSERT_TRUE(got.width == want->width && got.height == want->height &&
                  got.bytes_per_pixel == want->bytes_per_pixel) << "code " << code;
      const size_t size = static_cast<size_t>(got.width) * got.height * got.bytes_per_pixel;
      EXPECT_EQ(std::memcmp(got.pixels, want->pixels, size), 0) << "code " << code;
    });
    gx_freebitmap(want);
  }
  for (int32_t channel : {0, 1, 3, 4}) {  // 17: a LevelRange of two big-endian words
    LevelRange *expected = fxx_findminmax_ll(&src, channel);
    made(17, {frame, static_cast<uint32_t>(channel)}, 1, [&](uint32_t range) {
      EXPECT_EQ(static_cast<int32_t>(corvix_get_be32(host.at(range))), expected->minimum);
      EXPECT_EQ(static_cast<int32_t>(corvix_get_be32(host.at(range) + 4)), expected->maximum);
    });
    PPCFreeVec(expected);
  }
  // An unknown turn code, and planes shorter than the scaler reaches, make nothing.
  EXPECT_EQ(run(13, {frame, 3}), 0u);
  EXPECT_EQ(run(10, {y, cr, cb, 38, 23, 61, 23, 1}), 0u);
  for (uint32_t a : {y, cr, cb}) host.free(a);
}

// Commands whose frame names more bytes than the host's block holds, or records with sizes
// that overflow, run nothing.
TEST_F(ServerCommands, FramesLargerThanTheirBlocksAreRefused) {
  const uint32_t px = host.pixels_of(shared_frame());
  for (auto [w, h, bpp] : {std::tuple{38, 23, 3}, {65536, 65536, 3}, {-1, 5, 3}}) {
    const uint32_t rec = host.bitmap(px, w, h, bpp);
    for (int32_t code : {5, 8, 11, 14, 15, 16, 18}) run(code, {rec, 1, 1, 1, 1, 1, 1, 1, 1});
    for (int32_t code : {9, 13, 17}) EXPECT_EQ(run(code, {rec, 1, 1}), 0u) << code;
    host.free(rec);
  }
  // Routines that take the record's own pixel size check that many bytes.
  const uint32_t rec = host.bitmap(px, 37, 23, 4);
  for (int32_t code : {5, 11, 15}) run(code, {rec, 1, 1, 1});
  host.free(rec);
  EXPECT_EQ(bytes(px, im.rgb.size()), im.rgb);
}

// A host that changes a record while commands run cannot make the server use a size it did
// not check: the server reads each record once.
TEST_F(ServerCommands, RecordsChangedDuringCommandsAreNeverReRead) {
  const uint32_t rec = shared_frame();
  std::atomic<bool> stop{false};
  std::thread flipper([&] {
    for (uint32_t i = 0; !stop; ++i) corvix_put_be32(host.at(rec) + 4, i % 2 ? 37 : 100000);
  });
  for (int i = 0; i < 2000; ++i) run(15, {rec});
  stop = true;
  flipper.join();
}

}  // namespace
}  // namespace corvix
