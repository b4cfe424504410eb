// Every command through a real port: the words are read in their order, the result word is
// right, records come back big-endian and belong to the host, and the bytes equal the
// library routine's on the same input.
#include <atomic>
#include <cstring>
#include <thread>

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
  void TearDown() override { EXPECT_EQ(host.blocks(), base_blocks + kept) << "leaked blocks"; }

  // The frame as a shared bitmap, and the same pixels as a native one for the library.
  uint32_t shared_frame(const test::Image &im) {
    kept += 2;
    return host.bitmap_of(im);
  }
  std::vector<uint8_t> pixels(uint32_t bitmap) {
    const Bitmap b = host.read_bitmap(bitmap);
    return {b.pixels, b.pixels + static_cast<size_t>(b.width) * b.height * b.bytes_per_pixel};
  }
  // Runs the command, checks the reply and returns word 0; the argument block is freed.
  uint32_t run(int32_t code, const std::vector<uint32_t> &words) {
    const uint32_t block = host.alloc(40);
    for (size_t i = 0; i < words.size(); ++i) host.set_word(block, static_cast<int>(i + 1), words[i]);
    host.set_word(block, 0, 0xDEADBEEF);
    EXPECT_EQ(host.send(code, block), 0);
    const uint32_t w0 = host.word(block, 0);
    host.free(block);
    return w0;
  }

  test::Host host;
  uint32_t base_blocks = host.blocks();
  uint32_t kept = 0;
  const test::Image im = crop("coffee.ppm", 37, 23);
};

// Runs a native in-place routine on a copy of the image.
template <class F>
std::vector<uint8_t> native(const test::Image &im, int32_t bpp, F &&routine) {
  std::vector<uint8_t> px = im.rgb;
  Bitmap b{px.data(), im.width, static_cast<int32_t>(px.size() / bpp / im.width), bpp};
  routine(&b);
  return px;
}

TEST_F(ServerCommands, InPlaceEffectsMatchTheLibrary) {
  struct Case {
    int32_t code;
    std::vector<uint32_t> extra;
    std::function<void(Bitmap *)> routine;
  };
  const Case cases[] = {
      {5, {150, 256 + 20, 0x0001FFFF}, [](Bitmap *b) { cvx_correct_ll(b, 150, 20, -1); }},
      {5, {80, 256 - 30, 0x00010000}, [](Bitmap *b) { cvx_correct_ll(b, 80, -30, 0); }},
      {8, {}, [](Bitmap *b) { cvx_deinterlace_ll(b); }},
      {11, {99}, [](Bitmap *b) { cvx_specialfade_ll(b, 99); }},
      {14, {1, 0}, [](Bitmap *b) { fxx_mirror_ll(b, 1, 0); }},
      {14, {0, 1}, [](Bitmap *b) { fxx_mirror_ll(b, 0, 1); }},
      {15, {}, [](Bitmap *b) { fxx_invert_ll(b); }},
      {16, {10, 200, 30, 180, 250, 5, 20, 240},
       [](Bitmap *b) { fxx_minmax_ll(b, 10, 200, 30, 180, 250, 5, 20, 240); }},
      {18, {}, [](Bitmap *b) { fxx_min_max_ll(b); }},
  };
  for (const Case &c : cases) {
    const uint32_t frame = shared_frame(im);
    std::vector<uint32_t> words{frame};
    words.insert(words.end(), c.extra.begin(), c.extra.end());
    EXPECT_EQ(run(c.code, words), 0u) << "code " << c.code;
    EXPECT_EQ(pixels(frame), native(im, 3, c.routine)) << "code " << c.code;
  }
}

TEST_F(ServerCommands, FadesReadTheirWordsInOrder) {
  const test::Image other = crop("astronaut.ppm", 37, 23);
  const uint32_t a = host.put(im.rgb), b = host.put(other.rgb), out = host.alloc(37 * 23 * 3);
  kept += 3;
  // 7: A, B, output, level, width, height, bytes per pixel.
  EXPECT_EQ(run(7, {a, b, out, 64, 37, 23, 3}), 0u);
  std::vector<uint8_t> expect(im.rgb.size());
  cvx_fadeover_ll(im.rgb.data(), other.rgb.data(), expect.data(), 64, 37, 23, 3);
  EXPECT_EQ(std::vector<uint8_t>(host.at(out), host.at(out) + expect.size()), expect);
  // 12: A's bitmap, B's pixels, level.
  const uint32_t frame = shared_frame(im);
  EXPECT_EQ(run(12, {frame, b, 120}), 0u);
  EXPECT_EQ(pixels(frame), native(im, 3, [&](Bitmap *x) {
              cvx_specialfadeover_ll(x, other.rgb.data(), 120);
            }));
}

TEST_F(ServerCommands, NewBitmapsArriveBigEndianAndBelongToTheHost) {
  const uint32_t frame = shared_frame(im);
  Bitmap src{const_cast<uint8_t *>(im.rgb.data()), im.width, im.height, 3};
  // 13: turn code 0 makes a 23 x 37 copy; 3: a chunky resize of the same buffer.
  struct Case {
    int32_t code;
    std::vector<uint32_t> words;
    Bitmap *expected;
  };
  Bitmap chunky{src.pixels, im.width, im.height, 1};
  const Case cases[] = {
      {13, {frame, 0}, fxx_rotangle_ll(&src, 0)},
      {13, {frame, 2}, fxx_rotangle_ll(&src, 2)},
      {3, {frame, 50, 9}, cvx_scale_ll(&chunky, 50, 9)},
  };
  for (const Case &c : cases) {
    const uint32_t made = run(c.code, c.words);
    ASSERT_NE(made, 0u) << "code " << c.code;
    const Bitmap got = host.read_bitmap(made);
    EXPECT_EQ(got.width, c.expected->width);
    EXPECT_EQ(got.height, c.expected->height);
    EXPECT_EQ(got.bytes_per_pixel, c.expected->bytes_per_pixel);
    const size_t n = static_cast<size_t>(got.width) * got.height * got.bytes_per_pixel;
    EXPECT_EQ(std::memcmp(got.pixels, c.expected->pixels, n), 0) << "code " << c.code;
    host.free_bitmap(made);
    gx_freebitmap(c.expected);
  }
  // 13 with an unknown turn code makes nothing.
  EXPECT_EQ(run(13, {frame, 3}), 0u);
}

TEST_F(ServerCommands, ColourCommandsMatchTheLibrary) {
  const size_t n = static_cast<size_t>(im.width) * im.height;
  const uint32_t frame = shared_frame(im);
  // 4: word 1 names a word holding the source address (the record's first field).
  const uint32_t out = host.alloc(static_cast<uint32_t>(n));
  std::vector<uint8_t> pens(216);
  for (int k = 0; k < 216; ++k) pens[k] = static_cast<uint8_t>(255 - k);
  const uint32_t pen_table = host.put(pens);
  EXPECT_EQ(run(4, {frame, out, pen_table, static_cast<uint32_t>(3 * n)}), 0u);
  std::vector<uint8_t> expect(n);
  gx_remap24(im.rgb.data(), expect.data(), pens.data(), static_cast<uint32_t>(3 * n));
  EXPECT_EQ(std::vector<uint8_t>(host.at(out), host.at(out) + n), expect);
  // 6: buffer, table, length.
  std::vector<uint8_t> table(256);
  for (int v = 0; v < 256; ++v) table[v] = static_cast<uint8_t>(v * 7);
  const uint32_t t = host.put(table);
  run(6, {out, t, static_cast<uint32_t>(n - 1)});
  gx_remap8(expect.data(), table.data(), static_cast<uint32_t>(n - 1));
  EXPECT_EQ(std::vector<uint8_t>(host.at(out), host.at(out) + n), expect);
  for (uint32_t a : {out, pen_table, t}) host.free(a);

  // 9: a scaled copy; 10: planes scaled and converted. Both arrive as big-endian records.
  const test::Planes p = test::image_planes(im, 1);
  const uint32_t y = host.put(p.y), cr = host.put(p.cr), cb = host.put(p.cb);
  Bitmap src{const_cast<uint8_t *>(im.rgb.data()), im.width, im.height, 3};
  const std::pair<uint32_t, Bitmap *> made[] = {
      {run(9, {frame, 50, 17}), gx_scalecopybitmap(&src, 50, 17)},
      {run(10, {y, cr, cb, 37, 23, 61, 11, 1}),
       fx_yuvscale_ll(p.y.data(), p.cr.data(), p.cb.data(), 37, 23, 61, 11, 1)},
  };
  for (const auto &[address, expected] : made) {
    ASSERT_NE(address, 0u);
    const Bitmap got = host.read_bitmap(address);
    ASSERT_EQ(got.width, expected->width);
    ASSERT_EQ(got.height, expected->height);
    EXPECT_EQ(std::memcmp(got.pixels, expected->pixels, 3 * static_cast<size_t>(got.width) * got.height), 0);
    host.free_bitmap(address);
    gx_freebitmap(expected);
  }
  // Planes shorter than the scaler reaches: nothing is made.
  EXPECT_EQ(run(10, {y, cr, cb, 38, 23, 61, 23, 1}), 0u);
  for (uint32_t a : {y, cr, cb}) host.free(a);
}

TEST_F(ServerCommands, LevelRangeArrivesBigEndian) {
  const uint32_t frame = shared_frame(im);
  Bitmap src{const_cast<uint8_t *>(im.rgb.data()), im.width, im.height, 3};
  for (int32_t channel : {0, 1, 3, 4}) {
    const uint32_t made = run(17, {frame, static_cast<uint32_t>(channel)});
    ASSERT_NE(made, 0u);
    LevelRange *expected = fxx_findminmax_ll(&src, channel);
    EXPECT_EQ(static_cast<int32_t>(corvix_get_be32(host.at(made))), expected->minimum);
    EXPECT_EQ(static_cast<int32_t>(corvix_get_be32(host.at(made) + 4)), expected->maximum);
    PPCFreeVec(expected);
    host.free(made);
  }
}

// A command whose own allocation fails answers 0 and leaves nothing behind.
TEST_F(ServerCommands, FailedAllocationsGiveZeroAndLeaveNothing) {
  const uint32_t frame = shared_frame(im);
  const test::Planes p = test::image_planes(im, 1);
  const uint32_t y = host.put(p.y), cr = host.put(p.cr), cb = host.put(p.cb);
  const std::vector<std::pair<int32_t, std::vector<uint32_t>>> commands = {
      {3, {frame, 40, 30}}, {9, {frame, 40, 30}}, {10, {y, cr, cb, 37, 23, 40, 30, 1}},
      {13, {frame, 1}}, {17, {frame, 2}}};
  for (const auto &[code, words] : commands) {
    const uint32_t block = host.alloc(40);
    for (size_t i = 0; i < words.size(); ++i) host.set_word(block, static_cast<int>(i + 1), words[i]);
    const uint32_t before = host.blocks();
    const int allocations = test::sweep_allocation_failures([&](int failing) {
      ASSERT_EQ(host.send(code, block), 0);
      const uint32_t made = host.word(block, 0);
      EXPECT_EQ(made == 0, failing != 0) << "code " << code << " failing " << failing;
      if (code == 17) host.free(made); else host.free_bitmap(made);
      EXPECT_EQ(host.blocks(), before) << "code " << code << " failing " << failing;
    });
    EXPECT_GE(allocations, 1) << "code " << code;
    host.free(block);
  }
  for (uint32_t a : {y, cr, cb}) host.free(a);
}

// Commands whose frame names more bytes than the host's block holds, or records with sizes
// that overflow, run nothing.
TEST_F(ServerCommands, FramesLargerThanTheirBlocksAreRefused) {
  const uint32_t px = host.put(im.rgb);
  kept += 1;
  const std::vector<uint8_t> before = im.rgb;
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
  EXPECT_EQ(std::vector<uint8_t>(host.at(px), host.at(px) + before.size()), before);
}

// A host that changes a record while commands run cannot make the server use a size it did
// not check: the server reads each record once.
TEST_F(ServerCommands, RecordsChangedDuringCommandsAreNeverReRead) {
  const uint32_t px = host.put(im.rgb);
  const uint32_t rec = host.bitmap(px, im.width, im.height, 3);
  kept += 2;
  std::atomic<bool> stop{false};
  std::thread flipper([&] {
    uint8_t *width = host.at(rec) + 4;
    for (uint32_t i = 0; !stop; ++i) corvix_put_be32(width, i % 2 ? 37 : 100000);
  });
  for (int i = 0; i < 2000; ++i) run(15, {rec});
  stop = true;
  flipper.join();
}

}  // namespace
}  // namespace corvix
