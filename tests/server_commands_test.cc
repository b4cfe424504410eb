// Every command through the embedded server: the words are read in their order, the result
// word is right, records come back big-endian and belong to the host, and the bytes equal the
// library routine's on the same input.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <random>
#include <regex>
#include <set>
#include <thread>

#include "tests/support.h"

namespace corvix {
namespace {

// A frame of odd width whose three-byte pixels vary along rows and columns.
test::Image odd_frame() {
  test::Image im{37, 23, std::vector<uint8_t>(37 * 23 * 3)};
  for (size_t i = 0; i < im.rgb.size(); ++i) im.rgb[i] = static_cast<uint8_t>(i * 7 + i / 111);
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

  test::Host host;
  uint32_t kept = 0;
  const test::Image im = odd_frame();
  const size_t n = static_cast<size_t>(im.width) * im.height;
};

// Codes outside the table are answered without work: the words would have command 2 write
// its output.
TEST_F(ServerCommands, CodesOutsideTheTableDoNothing) {
  const std::vector<uint8_t> bytes90(48, 90);
  const uint32_t planes = host.put(bytes90), out = host.put(bytes90);
  for (int32_t code : {-1, 19, INT32_MIN, 1000})
    EXPECT_EQ(run(code, {planes, planes, planes, out, 16, 4}), 0u) << code;
  EXPECT_EQ(bytes(out, 48), bytes90);
  for (uint32_t a : {planes, out}) host.free(a);
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

// The library's result on copies of the row's buffers (b[k] is buffer k's bytes; f the frame
// the row's first record describes, over a copy of its pixels): raw buffers changed in place,
// and the new record's fields (big-endian) and pixels, or its two levels.
using Made = std::vector<uint8_t>;
using Ref = std::function<Made(uint8_t *const *b, Bitmap *f)>;
Made made_of(Bitmap *m) {
  Made v(12);
  const int32_t fields[] = {m->width, m->height, m->bytes_per_pixel};
  for (int k = 0; k < 3; ++k) corvix_put_be32(&v[4 * k], uint32_t(fields[k]));
  v.insert(v.end(), m->pixels, m->pixels + size_t(m->width) * m->height * m->bytes_per_pixel);
  gx_freebitmap(m);
  return v;
}
Made levels_of(LevelRange *r) {
  Made v(8);
  corvix_put_be32(&v[0], uint32_t(r->minimum));
  corvix_put_be32(&v[4], uint32_t(r->maximum));
  PPCFreeVec(r);
  return v;
}

struct Row {
  int32_t code;
  std::vector<Buf> bufs;
  std::vector<int64_t> words;  // as many as the command reads
  Ref ref;
};

// Frames are 7 x 5 (6 rows where row pairs matter), so rows past the first and sizes that are
// not multiples of 3, 4 or 16 are touched. Scalers enlarge, so every source pixel is read.
const Row kExactRows[] = {
    // P = 11 raised to whole groups of 4 = 12 pixels: 12 Y, 3 Cr, 3 Cb, 36 output bytes.
    {2, {raw(12), raw(3), raw(3), raw(36)}, {B0, B1, B2, B3, 11, 4},
     [](auto b, auto) { return fx_yuvtorgb_ll(b[0], b[1], b[2], b[3], 11, 4), Made{}; }},
    {2, {raw(5), raw(5), raw(5), raw(15)}, {B0, B1, B2, B3, 5, 1},
     [](auto b, auto) { return fx_yuvtorgb_ll(b[0], b[1], b[2], b[3], 5, 1), Made{}; }},
    // One byte a pixel whatever the record says.
    {3, {raw(35), record(0, 7, 5, 3)}, {B1, 9, 8},
     [](auto, auto f) { return f->bytes_per_pixel = 1, made_of(cvx_scale_ll(f, 9, 8)); }},
    // Lengths 61 and 62 are 21 whole pixels: 63 source bytes and 21 output bytes.
    {4, {raw(63), address_of(0), raw(21), raw(216)}, {B1, B2, B3, 61},
     [](auto b, auto) { return gx_remap24(b[0], b[2], b[3], 61), Made{}; }},
    {4, {raw(63), address_of(0), raw(21)}, {B1, B2, 0, 62},
     [](auto b, auto) { return gx_remap24(b[0], b[2], nullptr, 62), Made{}; }},
    // Word 3 is a signed offset plus 256; only word 4's low half counts, as a signed flag.
    {5, {raw(105), record(0, 7, 5, 3)}, {B1, 150, 256 + 20, 0x00010000},
     [](auto, auto f) { return cvx_correct_ll(f, 150, 20, 0), Made{}; }},
    {5, {raw(70), record(0, 7, 5, 2)}, {B1, 180, 256u - 260u, 0x0001FFFF},
     [](auto, auto f) { return cvx_correct_ll(f, 180, -260, -1), Made{}; }},
    {6, {raw(37), raw(256)}, {B0, B1, 37},
     [](auto b, auto) { return gx_remap8(b[0], b[1], 37), Made{}; }},
    {7, {raw(105), raw(105), raw(105)}, {B0, B1, B2, 64, 7, 5, 3},
     [](auto b, auto) { return cvx_fadeover_ll(b[0], b[1], b[2], 64, 7, 5, 3), Made{}; }},
    {8, {raw(126), record(0, 7, 6, 3)}, {B1},
     [](auto, auto f) { return cvx_deinterlace_ll(f), Made{}; }},
    {9, {raw(105), record(0, 7, 5, 3)}, {B1, 9, 8},
     [](auto, auto f) { return made_of(gx_scalecopybitmap(f, 9, 8)); }},
    {9, {raw(35), record(0, 7, 5, 1)}, {B1, 9, 8},
     [](auto, auto f) { return made_of(gx_scalecopybitmap(f, 9, 8)); }},
    // 10 x 5 to 13 x 7, factor 3: last row 6 x 5 / 7 = 4, last column 10 x 12 / 13 = 9, so
    // Y index 4 x 10 + 9 and chroma index 40 / 3 + 9 / 3 are the last ones read.
    {10, {raw(50), raw(17), raw(17)}, {B0, B1, B2, 10, 5, 13, 7, 3},
     [](auto b, auto) { return made_of(fx_yuvscale_ll(b[0], b[1], b[2], 10, 5, 13, 7, 3)); }},
    // 10 x 5 to 4 x 2: last row 5 / 2 = 2, last column 30 / 4 = 7; Y 28, chroma 6 + 2 + 1.
    {10, {raw(28), raw(9), raw(9)}, {B0, B1, B2, 10, 5, 4, 2, 3},
     [](auto b, auto) { return made_of(fx_yuvscale_ll(b[0], b[1], b[2], 10, 5, 4, 2, 3)); }},
    {11, {raw(105), record(0, 7, 5, 3)}, {B1, 99},
     [](auto, auto f) { return cvx_specialfade_ll(f, 99), Made{}; }},
    {12, {raw(70), record(0, 7, 5, 2), raw(70)}, {B1, B2, 120},
     [](auto b, auto f) { return cvx_specialfadeover_ll(f, b[2], 120), Made{}; }},
    {13, {raw(105), record(0, 7, 5, 3)}, {B1, 1},
     [](auto, auto f) { return made_of(fxx_rotangle_ll(f, 1)); }},
    {14, {raw(105), record(0, 7, 5, 3)}, {B1, 1, 0},
     [](auto, auto f) { return fxx_mirror_ll(f, 1, 0), Made{}; }},
    {14, {raw(105), record(0, 7, 5, 3)}, {B1, 0, 1},
     [](auto, auto f) { return fxx_mirror_ll(f, 0, 1), Made{}; }},
    {15, {raw(70), record(0, 7, 5, 2)}, {B1},
     [](auto, auto f) { return fxx_invert_ll(f), Made{}; }},
    {16, {raw(105), record(0, 7, 5, 3)}, {B1, 10, 200, 30, 180, 250, 5, 20, 240},
     [](auto, auto f) { return fxx_minmax_ll(f, 10, 200, 30, 180, 250, 5, 20, 240), Made{}; }},
    {17, {raw(105), record(0, 7, 5, 3)}, {B1, 4},
     [](auto, auto f) { return levels_of(fxx_findminmax_ll(f, 4)); }},
    {18, {raw(105), record(0, 7, 5, 3)}, {B1},
     [](auto, auto f) { return fxx_min_max_ll(f), Made{}; }},
};

// What one run of a row left behind.
struct Outcome {
  int32_t status = 0;
  int allocations = 0;  // the command's
  uint32_t word0 = 0;
  std::vector<std::vector<uint8_t>> before, after;  // every block, whole
  std::vector<uint8_t> made;                        // the new record's fields and bytes
};

class ExactBuffers : public ServerCommands {
 protected:
  // Runs `row` with every buffer in a block of its size plus `slack` guard bytes, except
  // buffer `shorter`, whose block is one byte short; `shorter` past the buffers makes the
  // argument block one byte shorter than the words the command reads. With `failing`, the
  // command's allocation of that number fails.
  Outcome run_row(const Row &row, uint32_t slack, int shorter, uint32_t failing = 0) {
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
    const uint64_t calls = corvix_alloc_calls();
    corvix_alloc_fail_nth(failing);
    out.status = host.send(row.code, addr.back());
    corvix_alloc_fail_nth(0);
    out.allocations = static_cast<int>(corvix_alloc_calls() - calls);
    for (size_t i = 0; i <= n; ++i) out.after.push_back(bytes(addr[i], len[i]));
    out.word0 = host.word(addr.back(), 0);
    if (out.status == 0 && out.word0 != 0 && row.code == 17) {  // two levels
      out.made = bytes(out.word0, 8);
      host.free(out.word0);
    } else if (out.status == 0 && out.word0 != 0) {  // the fields past the pixels' address
      const Bitmap m = host.read_bitmap(out.word0);
      out.made = bytes(out.word0 + 4, 12);
      out.made.insert(out.made.end(), m.pixels, m.pixels + m.width * m.height * m.bytes_per_pixel);
      host.free_bitmap(out.word0);
    }
    for (uint32_t a : addr) host.free(a);
    EXPECT_EQ(host.blocks(), blocks_before) << "code " << row.code;
    return out;
  }
};

// Roomy buffers and buffers at exactly their size give the library's bytes and records
// (commands 3, 9, 10, 13 and 17 make them whole or not at all), and the guard bytes after
// roomy buffers stay as they were; any one buffer (records, address
// words and the argument block included) one byte short is refused with nothing written and
// nothing made.
TEST_F(ExactBuffers, AreAcceptedAndOneByteLessIsRefused) {
  for (const Row &row : kExactRows) {
    const size_t n = row.bufs.size();
    SCOPED_TRACE(::testing::Message()
                 << "code " << row.code << " words " << row.words.size() << " buffers " << n);
    for (const uint32_t slack : {3u, 0u}) {  // guard bytes after every buffer, then none
      const Outcome o = run_row(row, slack, -1);
      ASSERT_EQ(o.status, 0);
      std::vector<std::vector<uint8_t>> want(o.before.begin(), o.before.end() - 1);
      std::vector<uint8_t *> b;
      Bitmap f{};  // the first record's frame
      for (size_t i = 0; i < n; ++i) {
        b.push_back(want[i].data());
        const Buf &r = row.bufs[i];
        if (r.size == 16 && !f.pixels) f = {want[r.names].data(), r.width, r.height, r.bpp};
      }
      EXPECT_EQ(row.ref(b.data(), &f), o.made) << "a record other than the library's";
      for (size_t i = 0; i < n; ++i)  // records and address words are only read
        EXPECT_TRUE(row.bufs[i].names >= 0 || want[i] == o.after[i]) << i << " +" << slack;
      // A record is made whole or not at all: any of its allocations failing answers 0 and
      // leaves no block behind (run_row counts them).
      for (int k = 1; !o.made.empty() && k <= o.allocations; ++k) {
        const Outcome failed = run_row(row, slack, -1, k);
        EXPECT_TRUE(failed.status == 0 && failed.word0 == 0) << "allocation " << k << " failing";
      }
    }
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
    const bool left = now == frame;
    for (size_t k = 0; !left && k < 3 * n; ++k) frame[k] = static_cast<uint8_t>(255 - frame[k]);
    ASSERT_EQ(now, frame) << "neither the whole frame inverted nor left alone, or its tail changed";
    ++(left ? refused : inverted);
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
  const int words[] = CORVIX_COMMAND_WORDS;
  std::set<int> rows;
  const std::regex row(R"(\n\| (\d+) \| `(CORVIX_CMD_\w+)` \| [^|]+ \| (\d+) \|)");
  for (std::sregex_iterator m(page.begin(), page.end(), row), e; m != e; ++m) {
    const int code = std::stoi((*m)[1]);
    ASSERT_TRUE(code >= 0 && code < CORVIX_CMD_COUNT) << (*m)[0];
    EXPECT_TRUE(std::regex_search(header, std::regex((*m)[2].str() + " += " + (*m)[1].str() + ",")))
        << (*m)[0];
    EXPECT_EQ(std::stoi((*m)[3]), words[code]) << (*m)[0];
    rows.insert(code);
  }
  EXPECT_EQ(rows.size(), std::size(words)) << "a code without its summary row";
}

}  // namespace
}  // namespace corvix
