// Every command through the embedded server: the words are read in their order, the result
// word is right, records come back big-endian and belong to the host, and the bytes equal the
// library routine's on the same input.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <random>
#include <regex>
#include <set>
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
      if (parts == 2)
        host.free_bitmap(address);
      else
        host.free(address);
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
      // Word 3 is a signed offset plus 256 and word 4's low half a signed flag.
      {5, {f, 100, 256u - 300u, 0x00010000}, [](Bitmap *x) { cvx_correct_ll(x, 100, -300, 0); }},
      {5, {f, 100, 256 + 300, 0x8000}, [](Bitmap *x) { cvx_correct_ll(x, 100, 300, -1); }},
      {8, {f}, [](Bitmap *x) { cvx_deinterlace_ll(x); }},
      {11, {f, 99}, [](Bitmap *x) { cvx_specialfade_ll(x, 99); }},
      {12, {f, b, 120}, [&](Bitmap *x) { cvx_specialfadeover_ll(x, other.rgb.data(), 120); }},
      {14, {f, 1, 0}, [](Bitmap *x) { fxx_mirror_ll(x, 1, 0); }},
      {14, {f, 0, 1}, [](Bitmap *x) { fxx_mirror_ll(x, 0, 1); }},
      {15, {f}, [](Bitmap *x) { fxx_invert_ll(x); }},
      {16,
       {f, 10, 200, 30, 180, 250, 5, 20, 240},
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
      {13, {frame, 0}, fxx_rotangle_ll(&src, 0)},
      {13, {frame, 1}, fxx_rotangle_ll(&src, 1)},
      {13, {frame, 2}, fxx_rotangle_ll(&src, 2)},
      {3, {frame, 50, 9}, cvx_scale_ll(&chunky, 50, 9)},
      {9, {frame, 50, 17}, gx_scalecopybitmap(&src, 50, 17)},
      {10,
       {y, cr, cb, 37, 23, 61, 11, 1},
       fx_yuvscale_ll(p.y.data(), p.cr.data(), p.cb.data(), 37, 23, 61, 11, 1)},
  };
  for (const auto &[code, words, want] : bitmaps) {
    made(code, words, 2, [&](uint32_t address) {
      const Bitmap got = host.read_bitmap(address);
      ASSERT_TRUE(got.width == want->width && got.height == want->height &&
                  got.bytes_per_pixel == want->bytes_per_pixel)
          << "code " << code;
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

// Records whose sizes overflow, or are negative, run nothing (a frame one byte larger than
// its block is refused in ExactBuffers below).
TEST_F(ServerCommands, FramesWithOverflowingSizesAreRefused) {
  const uint32_t px = host.pixels_of(shared_frame());
  for (auto [w, h] : {std::pair{65536, 65536}, {-1, 5}}) {
    const uint32_t rec = host.bitmap(px, w, h, 3);
    for (int32_t code : {5, 8, 11, 14, 15, 16, 18}) run(code, {rec, 1, 1, 1, 1, 1, 1, 1, 1});
    for (int32_t code : {9, 13, 17}) EXPECT_EQ(run(code, {rec, 1, 1}), 0u) << code;
    host.free(rec);
  }
  EXPECT_EQ(bytes(px, im.rgb.size()), im.rgb);
}

// ---- Buffers exactly as large as each command touches ------------------------------------

// One buffer a command names: `size` bytes, the extent the routine touches as its definition
// gives it (worked out here by hand, never taken from the server's checks). A buffer may be a
// Bitmap record naming another buffer's pixels, or a 4-byte word holding another's address.
struct Buf {
  uint32_t size;
  int names = -1;
  int32_t width = 0, height = 0, bpp = 0;
};
Buf raw(uint32_t size) { return {size}; }
Buf record(int pixels, int32_t w, int32_t h, int32_t bpp) { return {16, pixels, w, h, bpp}; }
Buf address_of(int target) { return {4, target}; }

// An argument word: a 32-bit number, or Bk, the address of the row's buffer k.
constexpr int64_t B0 = int64_t{1} << 40, B1 = B0 + 1, B2 = B0 + 2, B3 = B0 + 3;

struct Row {
  int32_t code;
  std::vector<Buf> bufs;
  std::vector<int64_t> words;  // as many as the command reads
};

// Frames are 7 x 5 (6 rows where row pairs matter), so rows past the first and sizes that are
// not multiples of 3, 4 or 16 are touched. Scalers enlarge, so every source pixel is read.
const Row kExactRows[] = {
    // P = 11 raised to whole groups of 4 = 12 pixels: 12 Y, 3 Cr, 3 Cb, 36 output bytes.
    {2, {raw(12), raw(3), raw(3), raw(36)}, {B0, B1, B2, B3, 11, 4}},
    {2, {raw(5), raw(5), raw(5), raw(15)}, {B0, B1, B2, B3, 5, 1}},
    // One byte a pixel whatever the record says.
    {3, {raw(35), record(0, 7, 5, 3)}, {B1, 9, 8}},
    // Lengths 61 and 62 are 21 whole pixels: 63 source bytes and 21 output bytes.
    {4, {raw(63), address_of(0), raw(21), raw(216)}, {B1, B2, B3, 61}},
    {4, {raw(63), address_of(0), raw(21)}, {B1, B2, 0, 62}},
    {5, {raw(105), record(0, 7, 5, 3)}, {B1, 150, 256 + 20, 0}},
    {5, {raw(70), record(0, 7, 5, 2)}, {B1, 80, 256 - 30, 0xFFFF}},
    {6, {raw(37), raw(256)}, {B0, B1, 37}},
    {7, {raw(105), raw(105), raw(105)}, {B0, B1, B2, 64, 7, 5, 3}},
    {8, {raw(126), record(0, 7, 6, 3)}, {B1}},
    {9, {raw(105), record(0, 7, 5, 3)}, {B1, 9, 8}},
    {9, {raw(35), record(0, 7, 5, 1)}, {B1, 9, 8}},
    // 10 x 5 to 13 x 7, factor 3: last row 6 x 5 / 7 = 4, last column 10 x 12 / 13 = 9, so
    // Y index 4 x 10 + 9 and chroma index 40 / 3 + 9 / 3 are the last ones read.
    {10, {raw(50), raw(17), raw(17)}, {B0, B1, B2, 10, 5, 13, 7, 3}},
    // 10 x 5 to 4 x 2: last row 5 / 2 = 2, last column 30 / 4 = 7; Y 28, chroma 6 + 2 + 1.
    {10, {raw(28), raw(9), raw(9)}, {B0, B1, B2, 10, 5, 4, 2, 3}},
    {11, {raw(105), record(0, 7, 5, 3)}, {B1, 99}},
    {12, {raw(70), record(0, 7, 5, 2), raw(70)}, {B1, B2, 120}},
    {13, {raw(105), record(0, 7, 5, 3)}, {B1, 0}},
    {14, {raw(105), record(0, 7, 5, 3)}, {B1, 1, 1}},
    {15, {raw(70), record(0, 7, 5, 2)}, {B1}},
    {16, {raw(105), record(0, 7, 5, 3)}, {B1, 10, 200, 30, 180, 250, 5, 20, 240}},
    {17, {raw(105), record(0, 7, 5, 3)}, {B1, 0}},
    {18, {raw(105), record(0, 7, 5, 3)}, {B1}},
};

// What one run of a row left behind.
struct Outcome {
  int32_t status = 0;
  uint32_t word0 = 0;
  std::vector<std::vector<uint8_t>> before, after;  // every block, whole
  std::vector<uint8_t> made;                        // the new record's fields and bytes
};

class ExactBuffers : public ServerCommands {
 protected:
  // Runs `row` with every buffer in a block of its size plus `slack` guard bytes, except
  // buffer `shorter`, whose block is one byte short; `shorter` past the buffers makes the
  // argument block one byte shorter than the words the command reads.
  Outcome run_row(const Row &row, uint32_t slack, int shorter) {
    const uint32_t blocks_before = host.blocks();
    const size_t n = row.bufs.size();
    std::vector<uint32_t> addr, len;
    // Pixel bytes (10..240, so every effect changes some) and guards are the same in every run.
    std::mt19937 random(static_cast<uint32_t>(row.code * 1000 + n * 10 + row.words.size()));
    for (size_t i = 0; i < n; ++i) {  // a buffer names only buffers before it
      const Buf &b = row.bufs[i];
      std::vector<uint8_t> content(b.size + slack, 0xA5);  // guards: a level no pixel starts with
      for (uint32_t k = 0; b.names < 0 && k < b.size; ++k)
        content[k] = static_cast<uint8_t>(10 + random() % 231);
      for (int32_t f = 0, field[] = {0, b.width, b.height, b.bpp};
           b.names >= 0 && 4 * f < int32_t(b.size); ++f)
        corvix_put_be32(&content[4 * f], f == 0 ? addr[b.names] : uint32_t(field[f]));
      len.push_back(static_cast<int>(i) == shorter ? b.size - 1 : b.size + slack);
      addr.push_back(host.put(content.data(), len.back()));
    }
    std::vector<uint8_t> args(40, 0);
    corvix_put_be32(args.data(), 0xDEADBEEF);
    for (size_t i = 0; i < row.words.size(); ++i) {
      const int64_t w = row.words[i];
      corvix_put_be32(&args[4 * (i + 1)], w >= B0 ? addr[w - B0] : static_cast<uint32_t>(w));
    }
    len.push_back(slack > 0 ? 40 : 4 * uint32_t(row.words.size() + 1) - (shorter == int(n)));
    addr.push_back(host.put(args.data(), len.back()));

    Outcome out;
    for (size_t i = 0; i <= n; ++i) out.before.push_back(bytes(addr[i], len[i]));
    out.status = host.send(row.code, addr.back());
    for (size_t i = 0; i <= n; ++i) out.after.push_back(bytes(addr[i], len[i]));
    out.word0 = host.word(addr.back(), 0);
    if (out.status == 0 && out.word0 != 0 && row.code == 17) {
      out.made = bytes(out.word0, 8);
      host.free(out.word0);
    } else if (out.status == 0 && out.word0 != 0) {
      const Bitmap m = host.read_bitmap(out.word0);
      out.made = bytes(out.word0 + 4, 12);  // the fields, not the pixels' address
      out.made.insert(out.made.end(), m.pixels,
                      m.pixels + static_cast<size_t>(m.width) * m.height * m.bytes_per_pixel);
      host.free_bitmap(out.word0);
    }
    for (uint32_t a : addr) host.free(a);
    EXPECT_EQ(host.blocks(), blocks_before) << "code " << row.code;
    return out;
  }
};

// Every buffer at exactly its size is accepted and gives what roomy buffers give; any one
// buffer (records, address words and the argument block included) one byte short is refused
// with nothing written and nothing made. Guard bytes after roomy buffers stay as they were.
TEST_F(ExactBuffers, AreAcceptedAndOneByteLessIsRefused) {
  constexpr uint32_t kGuard = 3;
  for (const Row &row : kExactRows) {
    const size_t n = row.bufs.size();
    SCOPED_TRACE(::testing::Message()
                 << "code " << row.code << " words " << row.words.size() << " buffers " << n);
    const Outcome roomy = run_row(row, kGuard, -1);
    ASSERT_EQ(roomy.status, 0);
    bool worked = roomy.word0 != 0 && !roomy.made.empty();
    for (size_t i = 0; i < n; ++i) {
      const uint32_t size = row.bufs[i].size;
      const auto &a = roomy.after[i], &b = roomy.before[i];
      worked = worked || !std::equal(a.begin(), a.begin() + size, b.begin());
      EXPECT_TRUE(std::equal(a.begin() + size, a.end(), b.begin() + size))
          << "guard after buffer " << i << " overwritten";
    }
    EXPECT_TRUE(worked) << "roomy buffers did nothing";

    const Outcome exact = run_row(row, 0, -1);
    EXPECT_EQ(exact.status, 0);
    for (size_t i = 0; i < n; ++i)  // records and address words: addresses differ between runs
      EXPECT_TRUE(row.bufs[i].names >= 0 ||
                  std::equal(exact.after[i].begin(), exact.after[i].end(), roomy.after[i].begin()))
          << "buffer " << i << " differs at its exact size";
    EXPECT_EQ(exact.made, roomy.made) << "a different record at exact sizes";

    for (int shorter = 0; shorter <= static_cast<int>(n); ++shorter) {
      const bool args_short = shorter == static_cast<int>(n);
      Outcome refused = run_row(row, 0, shorter);
      EXPECT_EQ(refused.status, args_short ? -EFAULT : 0) << "buffer " << shorter;
      // A refused command still answers 0 in word 0; a refused argument block is not touched.
      if (!args_short) std::fill_n(refused.before.back().begin(), 4, 0);
      EXPECT_EQ(refused.before, refused.after) << "written with buffer " << shorter << " short";
      EXPECT_TRUE(args_short || refused.word0 == 0u) << "buffer " << shorter << " short";
      EXPECT_TRUE(refused.made.empty());
    }
  }
  // A quit in a block one byte short of its word 0 is refused and the server keeps serving.
  const uint32_t tiny = host.alloc(3);
  EXPECT_EQ(host.send(0, tiny), -EFAULT);
  host.free(tiny);
  EXPECT_EQ(run(15, {0}), 0u);
}

// A host that flips a record's width between a size its block holds and one column more
// while commands run cannot make the server use the size it did not check: each command
// inverts exactly the checked frame or nothing, and the 60 bytes past the frame (short of the
// extra column) are never touched.
TEST_F(ServerCommands, RecordsChangedDuringCommandsAreNeverReRead) {
  constexpr size_t kTail = 60;
  std::vector<uint8_t> frame = im.rgb;
  frame.resize(3 * n + kTail, 0x5A);
  const uint32_t px = host.put(frame), rec = host.bitmap(px, 37, 23, 3);
  const uint32_t args = block({rec});
  std::atomic<bool> stop{false};
  std::thread flipper([&] {
    for (uint32_t i = 0; !stop; ++i) corvix_put_be32(host.at(rec) + 4, i % 2 ? 37 : 38);
  });
  int inverted = 0, refused = 0;
  for (int i = 0; i < 2000; ++i) {
    ASSERT_EQ(host.send(15, args), 0);
    const std::vector<uint8_t> now = bytes(px, frame.size());
    ASSERT_TRUE(std::equal(now.begin() + 3 * n, now.end(), frame.begin() + 3 * n))
        << "bytes past the checked frame changed";
    if (std::equal(now.begin(), now.end(), frame.begin())) {
      ++refused;
      continue;
    }
    for (size_t k = 0; k < 3 * n; ++k) frame[k] = static_cast<uint8_t>(255 - frame[k]);
    ASSERT_EQ(now, frame) << "neither the whole frame inverted nor left alone";
    ++inverted;
  }
  stop = true;
  flipper.join();
  EXPECT_GT(inverted, 0);
  EXPECT_GT(refused, 0);
  for (uint32_t a : {args, rec, px}) host.free(a);
}

// docs/commands.md tells host writers each code's constant and words: its summary rows must
// agree with the public header's codes and CORVIX_COMMAND_WORDS (which the server's own table
// is checked against when it compiles).
TEST(CommandsPage, AgreesWithThePublicHeader) {
  const std::string root = std::string(CORVIX_TEST_IMAGES) + "/../../";
  const std::string header = test::file_bytes(root + "include/corvix/commands.h");
  const std::string page = test::file_bytes(root + "docs/commands.md");
  std::map<std::string, int> codes;  // from the header's enum
  const std::regex enumerator(R"((CORVIX_CMD_[A-Z0-9_]+) += (\d+))");
  for (std::sregex_iterator m(header.begin(), header.end(), enumerator), e; m != e; ++m)
    codes[(*m)[1]] = std::stoi((*m)[2]);
  const int words[] = CORVIX_COMMAND_WORDS;
  ASSERT_EQ(codes.size(), std::size(words) + 1);  // and CORVIX_CMD_COUNT

  std::set<int> rows;
  const std::regex row(R"(\n\| (\d+) \| `(CORVIX_CMD_\w+)` \| [^|]+ \| (\d+) \|)");
  for (std::sregex_iterator m(page.begin(), page.end(), row), e; m != e; ++m) {
    const int code = std::stoi((*m)[1]);
    ASSERT_TRUE(code >= 0 && code < CORVIX_CMD_COUNT) << (*m)[0];
    EXPECT_EQ(codes[(*m)[2]], code) << (*m)[0];
    EXPECT_EQ(std::stoi((*m)[3]), words[code]) << (*m)[0];
    rows.insert(code);
  }
  EXPECT_EQ(rows.size(), std::size(words)) << "a code without its summary row";
}

}  // namespace
}  // namespace corvix
